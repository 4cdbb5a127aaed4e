#include "driver/driver.hpp"

namespace lyap {

int run_program(int, char**) {
  return 0;
}

}  // namespace lyap
