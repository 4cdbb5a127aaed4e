#include "driver/command_line.hpp"

namespace lyap {

namespace {

// "$" stands for the executable's name, which the files are named after.
constexpr std::string_view kUsage = R"(Usage: $ [--help | --version]

Searches, unattended, for chaotic motion in a Hamiltonian system with two degrees
of freedom: trial after trial it draws the system's parameters, estimates the
largest Lyapunov exponent and keeps every chaotic find, favouring parameter values
that are short to write.

It runs in the current folder, one search per folder, and names its files after
itself:
  $.txt    one line per chaotic parameter set found
  $.dat    the complexity budget over the run
  $.bmp    the latest phase portrait, and the budget plot at the end
  $.state  the search's state, to continue it after an interruption

Keys:
  Escape  ends the search: the budget plot, then one more key to leave
  Ctrl-C  interrupts it; the next start in the same folder continues it

Headless and batch use: with standard input at its end or not a terminal, it
searches until a signal ends it; without DISPLAY it opens no window and still
writes its pictures:
  $ </dev/null >console.txt

Exit status: 0 after Escape and the last key, and for --help and --version; 1 when
another search holds the folder or the folder cannot be locked; 2 for a bad
argument. Ended by a signal, it dies of that signal and leaves whole files.

  -h, --help  this text
  --version   the version, the commit and which sine and cosine the build uses
)";

}  // namespace

std::string usage_text(std::string_view name) {
  std::string text;
  for (const char c : kUsage) {
    if (c == '$') {
      text += name;
    } else {
      text += c;
    }
  }
  return text;
}

std::string version_line(const BuildInfo& build) {
  std::string line = "lyapsearch " + std::string(build.version) + " (";
  if (!build.commit.empty()) line += "commit " + std::string(build.commit) + ", ";
  line += build.library_trig ? "the C library's sine and cosine: a reference build"
                             : "its own sine and cosine";
  return line + ")\n";
}

CommandLineAnswer answer_command_line(std::string_view name, std::span<const char* const> argv,
                                      const BuildInfo& build) {
  const auto arguments = argv.empty() ? argv : argv.subspan(1);
  CommandLineAnswer answer;
  for (const std::string_view argument : arguments) {
    if (argument != "--help" && argument != "-h" && argument != "--version") {
      const std::string n(name);
      answer.to_stderr = true;
      answer.text = n + ": unknown argument '" + std::string(argument) + "' (" + n +
                    " --help lists what it takes)\n";
      answer.status = 2;
      return answer;
    }
  }
  if (arguments.empty()) {
    answer.search = true;
  } else if (std::string_view(arguments.front()) == "--version") {
    answer.text = version_line(build);
  } else {
    answer.text = usage_text(name);
  }
  return answer;
}

}  // namespace lyap
