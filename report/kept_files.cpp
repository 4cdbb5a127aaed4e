#include "report/kept_files.hpp"

#include <array>
#include <cstdio>

namespace lyap {

std::string kept_name(const std::string& base_name, const LocalTime& t, int copy,
                      const std::string& extension) {
  std::array<char, 64> stamp{};
  std::snprintf(stamp.data(), stamp.size(), "-%04d-%02d-%02d-%02d%02d%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string name = base_name + stamp.data();
  if (copy > 1) {
    name += '-';
    name += std::to_string(copy);
  }
  return name + "." + extension;
}

KeptAside keep_aside(const std::string& base_name, const std::string& extension) {
  const std::string path = base_name + "." + extension;
  const FileFacts facts = look_at_file(path);
  KeptAside kept;
  for (int copy = 1; copy <= max_kept_copies; ++copy) {
    const std::string name = kept_name(base_name, facts.modified, copy, extension);
    const Move move = move_file_keeping_target(path, name, kept.failure);
    if (move == Move::moved) {
      kept.name = name;
      return kept;
    }
    if (move == Move::failed) return kept;
  }
  kept.failure = "no free name";
  return kept;
}

}  // namespace lyap
