#include <cstdio>
#include <span>
#include <string>

#include "build_commit.hpp"  // generated at every build: LYAPSEARCH_COMMIT
#include "driver/check.hpp"
#include "driver/command_line.hpp"
#include "driver/driver.hpp"
#include "driver/folder_status.hpp"
#include "numerics/fpu_control.hpp"
#include "numerics/trig.hpp"
#include "platform/program_name.hpp"
#include "platform/shown_text.hpp"

namespace {

// A text that could not be written whole (a full disk, a closed stream) is a failure.
bool put_text(const std::string& text, std::FILE* stream) {
  const bool written = std::fputs(text.c_str(), stream) >= 0;
  return std::fflush(stream) == 0 && written && std::ferror(stream) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = lyap::program_base_name(argc > 0 ? argv[0] : nullptr);
  const lyap::BuildInfo build{LYAPSEARCH_VERSION, LYAPSEARCH_COMMIT, lyap::model_trig_is_library};
  const lyap::CommandLine line =
      lyap::read_command_line(name, std::span<const char* const>(argv, argc), build);
  switch (line.action) {
    case lyap::CommandLine::Action::answer:
      if (!put_text(line.text, line.to_stderr ? stderr : stdout) && line.status == 0) {
        std::fprintf(stderr, "%s: the answer could not be written\n",
                     lyap::shown_text(name).c_str());
        return 1;
      }
      return line.status;
    case lyap::CommandLine::Action::check: {
      lyap::ensure_x87_extended();
      const lyap::CheckReport report = lyap::run_check(line.check);
      if (!put_text(report.text, stdout)) return 1;
      if (!report.complaint.empty()) {
        put_text(report.complaint, stderr);
        return 1;
      }
      return 0;
    }
    case lyap::CommandLine::Action::status: {
      const lyap::FolderStatusAnswer table = lyap::folder_status(line.folders, name);
      return put_text(table.text, stdout) ? table.status : 1;
    }
    case lyap::CommandLine::Action::search:
      break;
  }
  lyap::ensure_x87_extended();
  return lyap::run_program(name, line.search);
}
