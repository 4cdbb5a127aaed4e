#include "platform/program_name.hpp"

#include <gtest/gtest.h>

#include <string>

namespace lyap {
namespace {

TEST(BaseNameOf, StripsDirectoryAndLastExtension) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/usr/local/bin/lyapsearch", "lyapsearch"},
      {"lyapsearch", "lyapsearch"},
      {"./lyapsearch.exe", "lyapsearch"},
      {"/opt/run/chaos.v2.bin", "chaos.v2"},
      {"dir.with.dots/prog", "prog"},
      {"/home/u/.hidden", ".hidden"},
      {"/home/u/.hidden.exe", ".hidden"},
      {"trailing.", "trailing"},
      {"/", ""},
      {"some/dir/", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base_name_of(c.path), c.expected) << "path: \"" << c.path << '"';
  }
}

TEST(ProgramBaseName, NamesTheRunningExecutableWhateverArgv0Says) {
  // The kernel knows which file is running; argv0 is only what the caller chose to pass.
  for (const char* argv0 : {"something-else.exe", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(program_base_name(argv0), "program_name_test")
        << "argv0: " << (argv0 != nullptr ? argv0 : "(null)");
  }
}

}  // namespace
}  // namespace lyap
