// Fakes at the platform seams, shared by the test files: a console that records every call
// and plays back scripted keys, and a clock whose readings the test sets.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace lyap::testing {

// One call made on a RecordingConsole.
struct ConsoleCall {
  enum Kind {
    set_title,
    move_window,
    clear,
    bring_to_front,
    set_colour,
    print_text,
    print_name,
    new_line,
    read_key,
    wait_key,
    beep
  };
  Kind kind;
  std::string text;  // set_title (the name and the text joined), print_text, print_name
  int a = 0;         // move_window x, set_colour colour, beep pause, read_key result
  int b = 0;         // move_window y
  int colour = 7;    // the colour in force when the call was made
};

class RecordingConsole : public Console {
 public:
  std::vector<ConsoleCall> calls;
  std::deque<int> keys;  // read_key and wait_key take keys from the front
  int current = 7;       // the console starts light grey, as a terminal does

  void set_title(std::string_view name, std::string_view text) override {
    add(ConsoleCall::set_title, std::string(name) + std::string(text));
  }
  void move_window(int x, int y) override { add(ConsoleCall::move_window, {}, x, y); }
  void clear() override { add(ConsoleCall::clear); }
  void bring_to_front() override { add(ConsoleCall::bring_to_front); }
  void set_colour(int c) override {
    current = c;
    add(ConsoleCall::set_colour, {}, c);
  }
  int colour() const override { return current; }
  void print_text(std::string_view text) override { add(ConsoleCall::print_text, text); }
  void print_name(std::string_view name) override { add(ConsoleCall::print_name, name); }
  void new_line() override { add(ConsoleCall::new_line); }
  int read_key() override {
    int key = -1;
    if (!keys.empty()) {
      key = keys.front();
      keys.pop_front();
    }
    add(ConsoleCall::read_key, {}, key);
    return key;
  }
  void wait_key() override {
    if (!keys.empty()) keys.pop_front();
    add(ConsoleCall::wait_key);
  }
  void beep(int pause_ms) override { add(ConsoleCall::beep, {}, pause_ms); }

  // The texts printed, one item per print_text or print_name call.
  std::vector<std::string> printed() const {
    std::vector<std::string> items;
    for (const ConsoleCall& call : calls) {
      if (call.kind == ConsoleCall::print_text || call.kind == ConsoleCall::print_name)
        items.push_back(call.text);
    }
    return items;
  }
  int count(ConsoleCall::Kind kind) const {
    int n = 0;
    for (const ConsoleCall& call : calls) n += call.kind == kind;
    return n;
  }
  // The screen as lines of text: printed items joined, "\n" for each new_line.
  std::string screen() const {
    std::string text;
    for (const ConsoleCall& call : calls) {
      if (call.kind == ConsoleCall::print_text || call.kind == ConsoleCall::print_name)
        text += call.text;
      if (call.kind == ConsoleCall::new_line) text += '\n';
    }
    return text;
  }

 private:
  void add(ConsoleCall::Kind kind, std::string_view text = {}, int a = 0, int b = 0) {
    calls.push_back({kind, std::string(text), a, b, current});
  }
};

// Each reading takes the next scripted value, and repeats the set value once the script has
// run out.
class FakeClock : public Clock {
 public:
  long double time_of_day = 0;
  long double monotonic = 0;
  std::int64_t unix_time = 1796787813;  // 2026-12-09 03:43:33 UTC
  std::deque<long double> time_of_day_script;
  std::deque<long double> monotonic_script;
  int time_of_day_reads = 0;
  int monotonic_reads = 0;

  long double time_of_day_s() override {
    ++time_of_day_reads;
    return next(time_of_day_script, time_of_day);
  }
  long double monotonic_s() override {
    ++monotonic_reads;
    return next(monotonic_script, monotonic);
  }
  std::int64_t unix_time_s() override { return unix_time; }

 private:
  static long double next(std::deque<long double>& script, long double& value) {
    if (!script.empty()) {
      value = script.front();
      script.pop_front();
    }
    return value;
  }
};

}  // namespace lyap::testing
