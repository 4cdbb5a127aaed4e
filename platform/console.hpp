// The text console the program logs to and reads its keys from. The driver and the reports
// talk to this interface only; terminal_posix.cpp puts it on a Unix terminal, and tests use a
// recording fake.
#pragma once

#include <memory>
#include <string_view>

namespace lyap {

// Two kinds of text reach the console. The program's own is 8-bit (Windows-1252) and is
// converted for the console. Names that come from the system (the folder, the program's file
// name, the system's words for a failure) are shown as the system gives them: on POSIX their
// bytes as they are, on Windows UTF-8 converted for the console. Control characters of either
// kind never reach the console as commands: the program's own are dropped, and those in a name
// are shown escaped (platform/shown_text.hpp), so that the user sees what the name holds.
struct Console {
  virtual ~Console() = default;
  // The console window's title: the system's `name`, followed by the program's own `text`.
  virtual void set_title(std::string_view name, std::string_view text) = 0;
  // Moves the console window's top-left corner to screen pixel (x, y), keeping its size and
  // stacking order. Silently nothing where the console has no window we can move.
  virtual void move_window(int x, int y) = 0;
  virtual void clear() = 0;
  virtual void bring_to_front() = 0;
  // One of the 16 console colours (14 yellow, 15 bright white, 11 bright cyan, ...), or -1 for
  // the console's own colour, the one it had before the program set any.
  virtual void set_colour(int colour) = 0;
  // The colour in force, -1 for the console's own.
  virtual int colour() const = 0;
  // The program's 8-bit text (Windows-1252) at the cursor in the current colour.
  virtual void print_text(std::string_view text) = 0;
  // A name as the system gives it, at the cursor in the current colour.
  virtual void print_name(std::string_view name) = 0;
  virtual void new_line() = 0;
  // The next pending key without waiting: its character code, 27 for a lone Escape, or -1
  // when none is pending. An Escape that arrives together with more bytes (Alt+key, an arrow
  // or function key, pasted text) is one key without a character code, and is skipped.
  virtual int read_key() = 0;
  // Blocks until a key arrives, of any kind (Alt+key and arrows included); returns at once
  // when no key can ever come (end of input).
  virtual void wait_key() = 0;
  // The default beep followed by a pause of `pause_ms` milliseconds.
  virtual void beep(int pause_ms) = 0;
};

// The terminal the program was started from (standard input and output). Puts the keyboard
// into raw mode until the returned object is destroyed or the process is ended by a signal;
// the terminal is restored on every exit path.
std::unique_ptr<Console> open_terminal_console();

}  // namespace lyap
