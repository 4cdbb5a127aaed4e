// A scratch folder for tests that write files, and whole-file reads and writes.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace lyap::testing {

// A fresh folder in the temporary folder, removed with everything in it when the test is done
// (also after a test took away its write permission).
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    std::random_device entropy;
    // A name nobody has taken: create_directory says whether it made the folder.
    for (int attempt = 0; attempt < 100 && !error; ++attempt) {
      const std::filesystem::path candidate = temp / ("lyapsearch-" + std::to_string(entropy()));
      if (std::filesystem::create_directory(candidate, error)) {
        path_ = candidate;
        return;
      }
    }
  }
  ~ScratchDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool ok() const { return !path_.empty(); }
  // Whether taking away a file's write permission stops this process from writing it: not for
  // root on Linux, nor for root running a Windows program under wine.
  bool permissions_bind() const {
    const std::filesystem::path probe = path_ / "permission probe";
    std::ofstream(probe, std::ios::binary) << "x";
    std::error_code error;
    std::filesystem::permissions(probe, std::filesystem::perms::owner_read, error);
    const bool written = std::ofstream(probe, std::ios::binary | std::ios::app).good();
    std::filesystem::permissions(probe, std::filesystem::perms::owner_all, error);
    std::filesystem::remove(probe, error);
    return !written;
  }
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The temporaries of whole-file writes left in `dir`: regular files named like
// "lyapsearch.bmp.Ab3dE9.tmp", or like "lyapsearch.bmp.tmp" as earlier versions named them.
inline bool is_temporary_name(const std::string& name) {
  for (const char* file :
       {"lyapsearch.txt", "lyapsearch.dat", "lyapsearch.bmp", "lyapsearch.state"}) {
    const std::string start = std::string(file) + ".";
    if (name.rfind(start, 0) != 0 || !name.ends_with(".tmp")) continue;
    const std::string middle = name.substr(start.size(), name.size() - start.size() - 4);
    if (name.size() == start.size() + 3) return true;  // the earlier "<file>.tmp"
    if (middle.size() == 6 && std::all_of(middle.begin(), middle.end(), [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        })) {
      return true;
    }
  }
  return false;
}

inline std::vector<std::string> temporaries_in(const std::filesystem::path& dir) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && !entry.is_symlink() && is_temporary_name(name)) {
      found.push_back(name);
    }
  }
  return found;
}

}  // namespace lyap::testing
