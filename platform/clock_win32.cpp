#include <windows.h>

#include "platform/clock.hpp"

namespace lyap {

namespace {

constexpr long double kTicksPerSecond = 1e7L;  // FILETIME counts 100 ns
// From 1601-01-01, where FILETIME starts, to 1970-01-01.
constexpr std::int64_t kUnixEpochSeconds = 11644473600;

class SystemClock final : public Clock {
 public:
  long double time_of_day_s() override {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    SYSTEMTIME utc{}, local{};
    if (!FileTimeToSystemTime(&now, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
      return 0;
    }
    // Zones differ from UTC by whole minutes, so the fraction of the second is the same in
    // both; the clock fields carry only milliseconds of it.
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const long whole = local.wHour * 3600L + local.wMinute * 60L + local.wSecond;
    return static_cast<long double>(whole) +
           static_cast<long double>(ticks % 10000000ull) / kTicksPerSecond;
  }

  long double monotonic_s() override {
    LARGE_INTEGER count{}, frequency{};
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) ||
        frequency.QuadPart <= 0) {
      return 0;
    }
    return static_cast<long double>(count.QuadPart) / static_cast<long double>(frequency.QuadPart);
  }

  std::int64_t unix_time_s() override {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000ull) - kUnixEpochSeconds;
  }
};

}  // namespace

LocalTime local_time_of(std::int64_t unix_s) {
  if (unix_s < -kUnixEpochSeconds) return {};
  const ULONGLONG ticks = static_cast<ULONGLONG>(unix_s + kUnixEpochSeconds) * 10000000ull;
  const FILETIME utc_time{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{}, local{};
  // The zone's rules for that date, daylight saving time included, not today's offset.
  if (!FileTimeToSystemTime(&utc_time, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return {};
  }
  return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

}  // namespace lyap
