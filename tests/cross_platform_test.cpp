#include <fstream>

#include <gtest/gtest.h>

#include "tests/cross_platform.hpp"

namespace {

TEST(CrossPlatform, TrialsAndLibraryFunctionsGiveTheBitsOfTheLinuxBuild) {
#if LYAPSEARCH_REFERENCE_TRIG
  GTEST_SKIP() << "the reference build takes the C library's sine and cosine, whose bits are "
                  "the system's own";
#endif
  std::ifstream file(LYAPSEARCH_SOURCE_DIR "/tests/data/cross_platform.txt");
  ASSERT_TRUE(file) << "tests/data/cross_platform.txt not found";
  std::vector<std::string> expected;
  for (std::string line; std::getline(file, line);) expected.push_back(line);

  const std::vector<std::string> actual = cross_platform::records();
  ASSERT_EQ(actual.size(), expected.size());
  int differences = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << "record " << i;
    differences += actual[i] != expected[i];
  }
  EXPECT_EQ(differences, 0);
}

}  // namespace
