// The process on Windows. The folder lock is a named mutex rather than a lock on the folder
// itself: a folder opened without sharing would also keep Explorer and the shell from listing
// it, and our own current directory already holds it open.
#include <windows.h>

#include <bit>
#include <cstdint>
#include <string>

#include "platform/process.hpp"
#include "platform/text_win32.hpp"

namespace lyap {

namespace {

// The folder's one true name: the path the system resolves it to (through junctions, mapped
// and substituted drives), so every way of naming a folder gives the same lock. Empty when the
// folder cannot be opened, with `error` telling why.
std::wstring final_path_of(const std::wstring& folder, DWORD& error) {
  // Only folders are locked, so a later file by the same name cannot collide.
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    return {};
  }
  const HANDLE h = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n = GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) {
      error = GetLastError();
      path.clear();
      break;
    }
    const bool fits = n < path.size();
    path.resize(n);
    if (fits) break;
  }
  CloseHandle(h);
  return path;
}

// Windows file names ignore case, so the lock's name must too; a hash keeps it within the
// length an object name may have.
std::uint64_t name_hash(std::wstring path) {
  CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const wchar_t c : path) {
    hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  }
  return hash;
}

// The name of the folder's mutex; empty when the folder cannot be opened, with `error` telling
// why. Global: a search started from another session (another user, a service) sees it too.
std::wstring mutex_name_of(const std::string& folder, DWORD& error) {
  const std::wstring path = final_path_of(wide_path(folder), error);
  if (path.empty()) return {};
  wchar_t name[64];
  swprintf(name, 64, L"Global\\lyapsearch-folder-%016llx",
           static_cast<unsigned long long>(name_hash(path)));
  return name;
}

}  // namespace

FolderLock lock_folder(const std::string& folder, std::string& reason) {
  DWORD error = ERROR_SUCCESS;
  const std::wstring name = mutex_name_of(folder, error);
  if (name.empty()) {
    reason = system_reason(error);
    return FolderLock::unavailable;
  }
  // The mutex exists as long as a handle to it is open: ours, deliberately never closed, which
  // the system closes when the process ends in any way.
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  error = GetLastError();
  if (mutex == nullptr) {
    // Made by another user, whose mutex we may not open: a search runs there all the same.
    if (error == ERROR_ACCESS_DENIED) return FolderLock::taken;
    reason = system_reason(error);
    return FolderLock::unavailable;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return FolderLock::taken;
  }
  return FolderLock::held;
}

FolderUse folder_in_use(const std::string& folder, std::string& reason) {
  DWORD error = ERROR_SUCCESS;
  const std::wstring name = mutex_name_of(folder, error);
  if (name.empty()) {
    reason = system_reason(error);
    return FolderUse::no_folder;
  }
  // Opening the mutex never creates it. The handle keeps it alive only for the instant before
  // it is closed, and only when a search holds it already.
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return FolderUse::searched;
  }
  error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return FolderUse::idle;
  // Another user's search, whose mutex we may not open.
  if (error == ERROR_ACCESS_DENIED) return FolderUse::searched;
  reason = system_reason(error);
  return FolderUse::cannot_tell;
}

std::string current_folder() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring path(n, L'\0');
  const DWORD got = GetCurrentDirectoryW(n, path.data());
  if (got == 0 || got >= n) return {};
  path.resize(got);
  return narrow_path(path);
}

void survive_file_size_limit() {
  // Windows has no file size limit that ends a process: a write past a full disk just fails.
}

int usable_processors() {
  DWORD_PTR process = 0, system = 0;
  int count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    count = std::popcount(static_cast<std::uint64_t>(process));
  }
  return count > 0 ? count : 1;
}

void lower_thread_priority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
}

}  // namespace lyap
