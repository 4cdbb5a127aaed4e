// Prints the records of tests/cross_platform.hpp: the Linux build's output is
// tests/data/cross_platform.txt.
#include <iostream>

#include "tests/cross_platform.hpp"

int main() {
  for (const std::string& line : cross_platform::records()) std::cout << line << '\n';
}
