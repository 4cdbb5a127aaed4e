#include <cstdio>
#include <span>
#include <string>

#include "build_commit.hpp"  // generated at every build: LYAPSEARCH_COMMIT
#include "driver/command_line.hpp"
#include "driver/driver.hpp"
#include "numerics/fpu_control.hpp"
#include "numerics/trig.hpp"
#include "platform/program_name.hpp"

int main(int argc, char** argv) {
  const std::string name = lyap::program_base_name(argc > 0 ? argv[0] : nullptr);
  const lyap::BuildInfo build{LYAPSEARCH_VERSION, LYAPSEARCH_COMMIT, lyap::model_trig_is_library};
  const lyap::CommandLineAnswer answer =
      lyap::answer_command_line(name, std::span<const char* const>(argv, argc), build);
  if (!answer.search) {
    std::fputs(answer.text.c_str(), answer.to_stderr ? stderr : stdout);
    return answer.status;
  }
  lyap::ensure_x87_extended();
  return lyap::run_program(name);
}
