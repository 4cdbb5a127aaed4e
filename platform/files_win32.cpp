// Files on Windows. A file is held for exclusive use by opening it without sharing: while we
// have it open, every other open of it fails with a sharing violation, and ours fails the same
// way while another program has it open. Reparse points (symbolic links, junctions) are the
// links of Windows: opened as themselves, they are refused rather than followed.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <mutex>

#include "platform/files.hpp"
#include "platform/text_win32.hpp"

namespace lyap {

namespace {

HANDLE handle_of(const LockedFile& file) {
  return reinterpret_cast<HANDLE>(file.handle);
}

LockedFile failed(std::string reason) {
  LockedFile result;
  result.failure = std::move(reason);
  return result;
}

constexpr const char* not_regular = "not a regular file";
// Attributes of what is no regular file of ours: a folder, or a link of either kind.
constexpr DWORD not_a_file = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

bool is_folder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool write_all(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD ask = bytes.size() > MAXDWORD ? MAXDWORD : static_cast<DWORD>(bytes.size());
    if (!WriteFile(h, bytes.data(), ask, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

LocalTime local_time_of(const FILETIME& utc) {
  SYSTEMTIME system{}, local{};
  if (!FileTimeToSystemTime(&utc, &system)) return {};
  // The zone's rules for that date, daylight saving time included, not today's offset.
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) return {};
  return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

// Temporaries that Ctrl+C, Ctrl+Break or closing the console removes. The control handler runs
// on a thread of its own, so a lock suffices. The temporary is open with delete sharing, so that
// the handler can delete it under the writer's feet; the system does when the process ends.
std::mutex g_temporaries_lock;
std::array<std::wstring, 4> g_temporaries;
// Set by the handler: the process is ending, and the writer, which goes on meanwhile, makes no
// temporary that would outlive it.
bool g_ending = false;

BOOL WINAPI remove_temporaries(DWORD) {
  const std::lock_guard<std::mutex> hold(g_temporaries_lock);
  g_ending = true;
  for (const std::wstring& name : g_temporaries) {
    if (!name.empty()) DeleteFileW(name.c_str());
  }
  return FALSE;  // the next handler, in the end the system's, ends the process
}

// A write's hold on a slot of g_temporaries while its temporary exists.
class GuardedName {
 public:
  explicit GuardedName(const std::wstring& name) {
    static const bool installed = SetConsoleCtrlHandler(remove_temporaries, TRUE) != 0;
    (void)installed;
    const std::lock_guard<std::mutex> hold(g_temporaries_lock);
    ending_ = g_ending;
    if (ending_) return;
    for (std::wstring& slot : g_temporaries) {
      if (!slot.empty()) continue;
      slot = name;
      slot_ = &slot;
      return;
    }
  }
  GuardedName(const GuardedName&) = delete;
  GuardedName& operator=(const GuardedName&) = delete;
  ~GuardedName() {
    const std::lock_guard<std::mutex> hold(g_temporaries_lock);
    if (slot_ != nullptr) slot_->clear();
  }
  // The handler has run: the temporary is the writer's to remove.
  bool ending() const { return ending_; }

 private:
  std::wstring* slot_ = nullptr;
  bool ending_ = false;
};

}  // namespace

LockedFile::~LockedFile() {
  if (handle >= 0) CloseHandle(handle_of(*this));
}

LockedFile open_locked(const std::string& path, OpenMode mode) {
  const std::wstring name = wide_path(path);
  const DWORD access = mode == OpenMode::read ? GENERIC_READ : GENERIC_WRITE;
  // Never CREATE_ALWAYS: that would empty the file before we know that nobody else holds it.
  const DWORD disposition = mode == OpenMode::read ? OPEN_EXISTING : OPEN_ALWAYS;
  // A link under the name is opened as itself, and refused below.
  const HANDLE h = CreateFileW(name.c_str(), access, 0, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder under the name cannot be opened as a file at all.
    if (error == ERROR_ACCESS_DENIED && is_folder(name)) return failed(not_regular);
    return failed(system_reason(error));
  }
  LockedFile file;
  file.handle = reinterpret_cast<std::intptr_t>(h);
  if (GetFileType(h) != FILE_TYPE_DISK) return failed(not_regular);
  // The handle's attributes, and the name's too: wine shows a link by its name only.
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD by_name = GetFileAttributesW(name.c_str());
  if ((GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & not_a_file) != 0) ||
      (by_name != INVALID_FILE_ATTRIBUTES && (by_name & not_a_file) != 0)) {
    return failed(not_regular);
  }
  bool ready = true;
  if (mode == OpenMode::truncate) {
    ready = SetEndOfFile(h) != 0;
  } else if (mode == OpenMode::append) {
    // Nobody else can write while we hold the file, so it stays at the end from here.
    ready = SetFilePointerEx(h, LARGE_INTEGER{}, nullptr, FILE_END) != 0;
  }
  if (!ready) return failed(system_reason(GetLastError()));
  return file;
}

std::string write_once(const LockedFile& file, std::string_view bytes) {
  if (!file.is_open()) return file.failure.empty() ? "not open" : file.failure;
  const HANDLE h = handle_of(file);
  LARGE_INTEGER before{};
  const bool placed = SetFilePointerEx(h, LARGE_INTEGER{}, &before, FILE_CURRENT) != 0;
  std::size_t done = 0;
  DWORD error = ERROR_SUCCESS;
  // Windows writes a disk file whole or fails; the second round only finds out why a short
  // write stopped.
  for (int round = 0; round < 2 && done < bytes.size(); ++round) {
    const std::size_t left = bytes.size() - done;
    DWORD written = 0;
    const DWORD ask = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
    if (!WriteFile(h, bytes.data() + done, ask, &written, nullptr)) {
      error = GetLastError();
      break;
    }
    done += written;
    if (written == 0) error = ERROR_DISK_FULL;
  }
  if (done == bytes.size()) return {};
  // Cut off a part that went in, so the file never keeps half a record.
  if (done > 0 && placed && SetFilePointerEx(h, before, nullptr, FILE_BEGIN)) SetEndOfFile(h);
  return system_reason(error != ERROR_SUCCESS ? error : ERROR_DISK_FULL);
}

std::size_t read_some(const LockedFile& file, char* buffer, std::size_t size) {
  if (!file.is_open()) return 0;
  DWORD got = 0;
  const DWORD ask = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  if (!ReadFile(handle_of(file), buffer, ask, &got, nullptr)) return 0;
  return got;
}

std::FILE* into_stream(LockedFile&& file) {
  if (!file.is_open()) return nullptr;
  const int fd = _open_osfhandle(file.handle, _O_RDONLY | _O_BINARY);
  if (fd < 0) return nullptr;  // the handle is still ours, closed by the file
  file.handle = -1;            // the descriptor owns the handle now
  std::FILE* stream = _fdopen(fd, "rb");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool read_unlocked(const std::string& path, std::size_t limit, std::string& text,
                   std::string& failure) {
  text.clear();
  const std::wstring name = wide_path(path);
  // Shared every way, so that the search may go on writing, renaming over or removing the file
  // while we read it.
  const HANDLE h = CreateFileW(
      name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    failure = error == ERROR_ACCESS_DENIED && is_folder(name) ? not_regular : system_reason(error);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD by_name = GetFileAttributesW(name.c_str());
  bool ok = GetFileType(h) == FILE_TYPE_DISK &&
            !(GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & not_a_file) != 0) &&
            !(by_name != INVALID_FILE_ATTRIBUTES && (by_name & not_a_file) != 0);
  if (!ok) failure = not_regular;
  char buffer[4096];
  while (ok) {
    DWORD got = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      failure = system_reason(GetLastError());
      ok = false;
    } else if (got == 0) {
      break;
    } else {
      text.append(buffer, got);
      if (text.size() > limit) {
        failure = "it is far too long";
        ok = false;
      }
    }
  }
  CloseHandle(h);
  return ok;
}

FileFacts look_at_file(const std::string& path) {
  FileFacts facts;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide_path(path).c_str(), GetFileExInfoStandard, &data)) return facts;
  // The attributes of a link itself: a link to a folder is no folder of ours.
  const DWORD attributes = data.dwFileAttributes;
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.exists = true;
  facts.regular = !link && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  facts.folder = !link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.size = (static_cast<std::uintmax_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  facts.modified = local_time_of(data.ftLastWriteTime);
  return facts;
}

WriteOutcome replace_file(const std::string& path, std::string_view bytes) {
  const std::wstring name = wide_path(path);
  // A read-only file is the user's to keep: it is not replaced (Windows refuses that itself,
  // wine does not).
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & not_a_file) == 0 &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return {WriteOutcome::failed, system_reason(ERROR_ACCESS_DENIED)};
  }
  // A name already there (a leftover, a folder, a link) is never touched: another name is drawn.
  // So many taken in a row would be no chance, and ends the write.
  std::wstring temp;
  HANDLE out = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100 && out == INVALID_HANDLE_VALUE; ++attempt) {
    temp = wide_path(temporary_name(path));
    out = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    error = GetLastError();
    if (out == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
        error != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  if (out == INVALID_HANDLE_VALUE) return {WriteOutcome::failed, system_reason(error)};
  const GuardedName guarded(temp);
  if (guarded.ending()) {
    CloseHandle(out);
    DeleteFileW(temp.c_str());
    return {WriteOutcome::failed, "the program is ending"};
  }
  // The new bytes reach the disk before the name points at them.
  const bool written = write_all(out, bytes) && FlushFileBuffers(out);
  error = GetLastError();
  CloseHandle(out);
  // Replacing renames over the name itself: a link there is replaced, not followed. A
  // read-only file, or one another program holds open, refuses.
  if (written &&
      MoveFileExW(temp.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {WriteOutcome::written, {}};
  }
  if (written) error = GetLastError();
  DeleteFileW(temp.c_str());
  if (error == ERROR_ACCESS_DENIED && look_at_file(path).folder) {
    return {WriteOutcome::failed, not_regular};
  }
  return {WriteOutcome::failed, system_reason(error)};
}

void remove_stale_temporaries(const std::vector<std::string>& paths) {
  const auto remove_if_regular = [](const std::wstring& name) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & not_a_file) == 0) {
      DeleteFileW(name.c_str());
    }
  };
  // The earlier versions' fixed names by name, so that a folder that may not be listed loses
  // them too.
  for (const std::string& path : paths) remove_if_regular(wide_path(path + ".tmp"));
  if (paths.empty()) return;
  const std::size_t slash = paths[0].find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : paths[0].substr(0, slash + 1);
  WIN32_FIND_DATAW entry{};
  const HANDLE listing = FindFirstFileW(wide_path(folder + "*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const std::string found = narrow_path(entry.cFileName);
    for (const std::string& path : paths) {
      if (!path.starts_with(folder)) continue;
      const std::string_view file = std::string_view(path).substr(folder.size());
      if (is_temporary_of(found, file)) remove_if_regular(wide_path(folder + found));
    }
  } while (FindNextFileW(listing, &entry));
  FindClose(listing);
}

bool remove_file(const std::string& path) {
  return DeleteFileW(wide_path(path).c_str()) != 0;
}

Move move_file_keeping_target(const std::string& from, const std::string& to,
                              std::string& failure) {
  // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced.
  if (MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), 0)) return Move::moved;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return Move::name_taken;
  failure = system_reason(error);
  return Move::failed;
}

}  // namespace lyap
