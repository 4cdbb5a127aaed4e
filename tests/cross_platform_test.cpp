#include <fstream>

#include <gtest/gtest.h>

#include "tests/cross_platform.hpp"

namespace {

TEST(CrossPlatform, TrialsAndLibraryFunctionsGiveTheBitsOfTheLinuxBuild) {
  std::ifstream file(LYAPSEARCH_SOURCE_DIR "/tests/data/cross_platform.txt");
  ASSERT_TRUE(file) << "tests/data/cross_platform.txt not found";
  std::vector<std::string> expected;
  for (std::string line; std::getline(file, line);) expected.push_back(line);

  const std::vector<std::string> actual = cross_platform::records();
  ASSERT_EQ(actual.size(), expected.size());
  int compared = 0, differences = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) {
#if LYAPSEARCH_REFERENCE_TRIG
    // The reference build's model takes the C library's sine and cosine, whose bits are the
    // system's own: only the functions are compared.
    if (expected[i].starts_with("trial") || expected[i].starts_with("long")) continue;
#endif
    EXPECT_EQ(actual[i], expected[i]) << "record " << i;
    ++compared;
    differences += actual[i] != expected[i];
  }
  EXPECT_GT(compared, 0);
  EXPECT_EQ(differences, 0);
}

}  // namespace
