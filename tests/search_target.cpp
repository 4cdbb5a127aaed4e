// The real run in the current folder, files, console and all, with a trial that succeeds at
// every other draw and a plot that keeps the trial's end: for the tests that end a search at
// random moments, on as many workers as the real program. The beeps keep their place in the run
// but not their pauses.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

#include "driver/run.hpp"
#include "platform/console.hpp"
#include "platform/process.hpp"

namespace {

using namespace lyap;

class QuickBeeps final : public Console {
 public:
  explicit QuickBeeps(Console& inner) : inner_(inner) {}
  void set_title(std::string_view name, std::string_view text) override {
    inner_.set_title(name, text);
  }
  void move_window(int x, int y) override { inner_.move_window(x, y); }
  void clear() override { inner_.clear(); }
  void bring_to_front() override { inner_.bring_to_front(); }
  void set_colour(int colour) override { inner_.set_colour(colour); }
  int colour() const override { return inner_.colour(); }
  void print_text(std::string_view text) override { inner_.print_text(text); }
  void print_name(std::string_view name) override { inner_.print_name(name); }
  void new_line() override { inner_.new_line(); }
  int read_key() override { return inner_.read_key(); }
  void wait_key() override { inner_.wait_key(); }
  void beep(int) override { inner_.beep(0); }

 private:
  Console& inner_;
};

// Chaotic for about every other draw, by the trial's own random source, which the search's
// generator seeds: which trials succeed, and their exponents, follow from the seed.
void often_chaotic(RunState& s, Rng& rng) {
  const long double u = rnd(rng);
  s.step = u < 0.5L ? 29998 : 9;
  s.le = 0.01L + 0.01L * u;
  s.best_edge = s.le - 0.2L * u;  // a closest approach that the seed decides too
  s.le_range = 0.0004L;
  s.div_mean = -0.5678L;
  s.n_samples = 190000;
  s.invariant_start = invariant(s.x_start, s.p);
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine line =
      read_command_line("lyapsearch", std::span<const char* const>(argv, argc), BuildInfo{});
  if (line.action == CommandLine::Action::answer) {
    std::fputs(line.text.c_str(), line.to_stderr ? stderr : stdout);
    return line.status;
  }
  survive_file_size_limit();
  auto terminal = open_terminal_console();
  QuickBeeps console(*terminal);
  RunEnv env{console, system_clock(), "lyapsearch"};
  env.trial = often_chaotic;
  env.plot = [](RunState&, Canvas& canvas, Rng&) { clear_canvas(canvas); };
  env.open_window = [](std::string_view, int, int) { return std::unique_ptr<Window>(); };
  env.workers = usable_processors();
  // The tests compare searches on different numbers of workers, more than the machine has.
  if (const char* workers = std::getenv("LYAPSEARCH_TEST_WORKERS"))
    env.workers = std::atoi(workers);
  env.options = line.search;
  auto state = std::make_unique<RunState>();
  return run_in_folder(*state, env);
}
