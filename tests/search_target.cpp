// The real run in the current folder, files, console and all, with a trial that succeeds at
// every other draw and a plot that keeps the trial's end: for the tests that end a search at
// random moments, on as many workers as the real program. The beeps keep their place in the run
// but not their pauses.
#include <memory>

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

void often_chaotic(RunState& s, Rng&) {
  s.step = s.trial_no % 2 == 0 ? 29998 : 9;
  s.le = 0.01L + 0.001L * static_cast<long double>(s.trial_no % 7);
  s.le_range = 0.0004L;
  s.div_mean = -0.5678L;
  s.n_samples = 190000;
  s.invariant_start = invariant(s.x_start, s.p);
}

}  // namespace

int main() {
  survive_file_size_limit();
  auto terminal = open_terminal_console();
  QuickBeeps console(*terminal);
  RunEnv env{console, system_clock(), "lyapsearch"};
  env.trial = often_chaotic;
  env.plot = [](RunState&, Canvas& canvas, Rng&) { clear_canvas(canvas); };
  env.open_window = [](std::string_view, int, int) { return std::unique_ptr<Window>(); };
  env.workers = usable_processors();
  auto state = std::make_unique<RunState>();
  return run_in_folder(*state, env);
}
