#include "driver/command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "platform/shown_text.hpp"
#include "report/real_text.hpp"

namespace lyap {

namespace {

// "$" stands for the executable's name, which the files are named after.
constexpr std::string_view kUsage = R"(Usage: $ [--seed N] [--trials N] [--p1 VALUE | --p1 free]
       $ --check P3 P4 P5 X1 X2 X3 X4 [--p1 VALUE] [--picture FILE]
       $ --status [FOLDER...]
       $ --help | --version

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

Options:
  --seed N      starts the search's generator from N, a whole number from 0 to
                18446744073709551615: the same seed gives the same trials, finds and
                results file, whatever the machine and its number of processors.
                Without it the seed comes from the time of day. Either way the seed
                is shown at the start and kept in the state file; a search continued
                after an interruption draws exactly what it would have drawn.
                  $ --seed 12345
  --trials N    finishes the search by itself once it has counted N trials (those
                before an interruption included), as Escape does but without waiting
                for a key, and exits with status 0.
                  $ --seed 7 --trials 100000 </dev/null >console.txt
  --p1 VALUE    every trial uses p1 = VALUE, a decimal above 1, instead of the
                model's own 1.000136, which makes the model all but integrable. Larger
                p1 make chaos likelier (README: the model family). With --p1 free,
                p1 is drawn like p3..p5, around its centre. A continued search keeps
                its setting; another is refused.
                  $ --p1 3
  --check P3 P4 P5 X1 X2 X3 X4
                runs the one trial that the search would run for these parameters
                and this start (p2 is fixed, and p1 too unless --p1 gives it) and
                prints what it found. It opens no window, takes no lock and touches
                no file. The end of a search prints this command for its closest
                approach.
                  $ --check -.35 .86 .02 .6 -.3 -.3 .3
                  $ --check --p1 3 -.6 .51 .51 1.2 .3 .7 .1
  --picture FILE  with --check, also saves the trial's phase portrait as a bitmap.
                  $ --check 2.55 .58 .47 1.2 .3 .7 .1 --picture trial.bmp
  --status [FOLDER...]
                shows, one row per folder (the current one when none is named),
                whether a search is running there, unfinished or absent, with its
                trials, finds, budget, run time and closest approach. It takes no
                lock and changes nothing.
                  $ --status run-*
  --            ends the options; what follows are values.
  -h, --help    this text
  --version     the version, the commit and which sine and cosine the build uses

Headless and batch use: with standard input at its end or not a terminal, it
searches until a signal ends it (or until --trials); without DISPLAY it opens no
window and still writes its pictures:
  $ </dev/null >console.txt

Exit status: 0 after Escape and the last key, after --trials, and for --check,
--help and --version; 1 when another search holds the folder or the folder cannot
be locked, when --status cannot look at a named folder, and when --help or
--version cannot be written; 2 for a bad argument, or a --seed or --p1 other than
the unfinished search's. Ended by a signal, it dies of that signal and leaves
whole files.
)";

constexpr std::string_view max_seed_text = "18446744073709551615";

CommandLine refused(std::string_view name, const std::string& problem) {
  CommandLine line;
  line.action = CommandLine::Action::answer;
  line.to_stderr = true;
  line.status = 2;
  // The argument in the problem, and the name, are outside text: never a raw control byte.
  const std::string n = shown_text(name);
  line.text = n + ": " + shown_text(problem) + " (" + n + " --help lists what it takes)\n";
  return line;
}

// CLI11 takes "-.35" for an option; "-0.35" is the same value, with as many decimals, and is
// read as a value. The program itself prints numbers without the leading zero.
std::vector<std::string> with_leading_zeros(std::span<const char* const> arguments) {
  std::vector<std::string> out;
  bool options_ended = false;
  for (const char* argument : arguments) {
    std::string a = argument != nullptr ? argument : "";
    if (a == "--") options_ended = true;
    if (!options_ended && a.size() > 2 && a[0] == '-' && a[1] == '.' && a[2] >= '0' &&
        a[2] <= '9') {
      a.insert(1, "0");
    }
    out.push_back(std::move(a));
  }
  return out;
}

// The first argument before "--" that looks like an option the program does not take; empty
// when there is none. A negative number is a value, not an option.
std::string unknown_option(const std::vector<std::string>& words) {
  constexpr std::string_view known[] = {"-h",       "--help",    "--version", "--check", "--seed",
                                        "--trials", "--picture", "--status",  "--p1"};
  for (const std::string& word : words) {
    if (word == "--") break;
    if (word.size() < 2 || word[0] != '-') continue;
    long double number = 0;
    if (read_drawn_value(word, number)) continue;
    const std::string_view option = std::string_view(word).substr(0, word.find('='));
    if (std::find(std::begin(known), std::end(known), option) == std::end(known)) return word;
  }
  return {};
}

}  // namespace

std::string usage_text(std::string_view raw_name) {
  const std::string name = shown_text(raw_name);
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

CommandLine read_command_line(std::string_view name, std::span<const char* const> argv,
                              const BuildInfo& build) {
  const auto arguments = argv.empty() ? argv : argv.subspan(1);
  std::vector<std::string> words = with_leading_zeros(arguments);

  if (const std::string unknown = unknown_option(words); !unknown.empty()) {
    return refused(name, "unknown argument '" + unknown + "'");
  }
  CLI::App app;
  app.set_help_flag();
  bool help = false, version = false, check = false, status = false;
  std::string seed, trials, picture, p1;
  std::vector<std::string> values;
  app.add_flag("-h,--help", help);
  app.add_flag("--version", version);
  app.add_flag("--check", check);
  app.add_flag("--status", status);
  CLI::Option* seed_option = app.add_option("--seed", seed);
  CLI::Option* trials_option = app.add_option("--trials", trials);
  CLI::Option* picture_option = app.add_option("--picture", picture);
  CLI::Option* p1_option = app.add_option("--p1", p1);
  app.add_option("values", values);
  try {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string what = e.what();
    const std::string option = what.substr(0, what.find(':'));
    return refused(name, what.find("missing") != std::string::npos
                             ? option + " needs a value"
                             : option + " is given more than once");
  } catch (const CLI::ParseError& e) {
    std::string problem = e.what();
    if (!problem.empty() && problem.back() == '\n') problem.pop_back();
    return refused(name, problem);
  }
  if (!values.empty() && !check && !status) {
    return refused(name, "unknown argument '" + values.front() + "'");
  }

  CommandLine line;
  if (version || help) {
    line.action = CommandLine::Action::answer;
    line.text = version ? version_line(build) : usage_text(name);
    return line;
  }
  if (check && status) return refused(name, "--check cannot go with --status");
  std::optional<P1Setting> p1_setting;
  if (p1_option->count() > 0) {
    P1Setting setting;
    if (p1 == "free") {
      setting.free = true;
    } else if (!read_drawn_value(p1, setting.value) || !(setting.value > 1)) {
      return refused(name, "--p1 takes a decimal above 1, or free, not '" + p1 + "'");
    }
    p1_setting = setting;
  }
  if (status) {
    if (p1_setting) return refused(name, "--status cannot go with --p1");
    if (seed_option->count() > 0) return refused(name, "--status cannot go with --seed");
    if (trials_option->count() > 0) return refused(name, "--status cannot go with --trials");
    if (picture_option->count() > 0) return refused(name, "--picture goes with --check only");
    line.action = CommandLine::Action::status;
    line.folders = values;
    return line;
  }
  if (check) {
    if (seed_option->count() > 0) return refused(name, "--check cannot go with --seed");
    if (trials_option->count() > 0) return refused(name, "--check cannot go with --trials");
    if (values.size() != 7) {
      return refused(name, "--check takes 7 values, p3 p4 p5 x1 x2 x3 x4, not " +
                               std::to_string(values.size()));
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      long double& value = i < 3 ? line.check.p[i + 3] : line.check.x_start[i - 2];
      if (!read_drawn_value(values[i], value)) {
        return refused(
            name, "--check: '" + values[i] + "' is not a decimal number with at most 18 decimals");
      }
    }
    if (picture_option->count() > 0 && picture.empty()) {
      return refused(name, "--picture needs a file name");
    }
    if (p1_setting && p1_setting->free) {
      return refused(name, "--check takes a value of --p1, not free");
    }
    line.check.p[1] = p1_setting ? p1_setting->value : P1Setting{}.value;
    line.check.picture = picture;
    line.action = CommandLine::Action::check;
    return line;
  }
  if (picture_option->count() > 0) return refused(name, "--picture goes with --check only");
  if (seed_option->count() > 0) {
    std::uint64_t n = 0;
    if (!read_whole_number(seed, n)) {
      return refused(name, "--seed takes a whole number from 0 to " + std::string(max_seed_text) +
                               ", not '" + seed + "'");
    }
    line.search.seed = n;
  }
  if (trials_option->count() > 0) {
    std::uint64_t n = 0;
    if (!read_whole_number(trials, n) || n < 1 || n > static_cast<std::uint64_t>(most_trials)) {
      return refused(name, "--trials takes a whole number from 1 to " +
                               std::to_string(most_trials) + ", not '" + trials + "'");
    }
    line.search.trials = static_cast<std::int64_t>(n);
  }
  line.search.p1 = p1_setting;
  return line;
}

}  // namespace lyap
