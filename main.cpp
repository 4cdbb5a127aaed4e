#include "driver/driver.hpp"
#include "numerics/fpu_control.hpp"

int main(int argc, char** argv) {
  lyap::ensure_x87_extended();
  return lyap::run_program(argc, argv);
}
