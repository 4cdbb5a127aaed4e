#include "driver/driver.hpp"

int main(int argc, char** argv) {
  return lyap::run_program(argc, argv);
}
