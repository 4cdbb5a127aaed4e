// The console on a Unix terminal: raw keyboard polling on standard input, text with ANSI
// colours on standard output. While a console lives, every way out of the process (return,
// exit, a terminating signal, a crash) puts the terminal back into the mode it had before.
#include "platform/terminal_posix.hpp"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/shown_text.hpp"
#include "platform/terminal_window.hpp"

namespace lyap {

namespace {

// How long the rest of an escape sequence may take after its ESC byte. A terminal sends a
// whole sequence at once, so a gap this long means the user pressed Escape itself.
constexpr int kEscapeWaitMs = 50;

constexpr std::string_view kDefaultColour = "\x1b[39m";

// ---------------------------------------------------------------------------------------------
// Terminal state shared with the signal handlers and the exit hook. A handler may run between
// any two statements of the console, so each field it reads is complete before the flag that
// makes it look at that field is raised.

struct TerminalState {
  int in_fd = -1;
  int out_fd = -1;
  termios saved{};  // the keyboard mode we found, put back on every way out
  termios raw{};    // our mode, put back when the program resumes after Ctrl+Z
  std::atomic<bool> raw_active{false};
  std::atomic<bool> colour_active{false};  // a colour of ours is in effect on out_fd
  // The escape of the colour in use, sent again on resuming after Ctrl+Z.
  std::array<char, 8> colour_seq{};
  std::atomic<size_t> colour_seq_len{0};
};

TerminalState g_term;
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<size_t>::is_always_lock_free,
              "signal handlers read these flags");

// Only one console at a time saves and restores the terminal; a second one opened meanwhile
// would save our raw mode as "the mode we found".
std::atomic<bool> g_terminal_claimed{false};

// Async-signal-safe: only write(2).
void write_all(int fd, const char* data, size_t size) noexcept {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Somebody made the descriptor non-blocking: wait until the terminal takes more.
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) return;
    } else {
      return;  // output gone (closed, disk full): the log is lost, the run goes on
    }
  }
}

// Async-signal-safe: write(2) and tcsetattr(3) only.
void restore_terminal() noexcept {
  if (g_term.colour_active.load())
    write_all(g_term.out_fd, kDefaultColour.data(), kDefaultColour.size());
  if (g_term.raw_active.load()) ::tcsetattr(g_term.in_fd, TCSANOW, &g_term.saved);
}

void release_terminal() noexcept {
  restore_terminal();
  g_term.raw_active = false;
  g_term.colour_active = false;
}

void restore_at_exit() {
  release_terminal();
}

// ---------------------------------------------------------------------------------------------
// Signals. Terminating ones restore the terminal and are raised again under the disposition
// they had before (normally the default, so the exit status still tells the shell which signal
// it was). Ctrl+Z restores the terminal, stops, and takes the raw mode back on resuming.

// `terminate`: ends the process by default; left alone when it was ignored before (nohup, a
// background job of a shell without job control). `crash`: always caught.
enum class Kind { terminate, crash, stop };

struct HandledSignal {
  int sig;
  Kind kind;
  struct sigaction previous;
  bool installed;
};

// Not SIGTRAP or SIGSYS: after those the process would go on past the instruction, where a
// fault signal makes it run the faulting instruction again.
std::array<HandledSignal, 16> g_signals{{
    {SIGINT, Kind::terminate, {}, false},
    {SIGTERM, Kind::terminate, {}, false},
    {SIGHUP, Kind::terminate, {}, false},
    {SIGQUIT, Kind::terminate, {}, false},
    {SIGPIPE, Kind::terminate, {}, false},
    {SIGALRM, Kind::terminate, {}, false},
    {SIGUSR1, Kind::terminate, {}, false},
    {SIGUSR2, Kind::terminate, {}, false},
    {SIGXCPU, Kind::terminate, {}, false},
    {SIGXFSZ, Kind::terminate, {}, false},
    {SIGSEGV, Kind::crash, {}, false},
    {SIGBUS, Kind::crash, {}, false},
    {SIGFPE, Kind::crash, {}, false},
    {SIGILL, Kind::crash, {}, false},
    {SIGABRT, Kind::crash, {}, false},
    {SIGTSTP, Kind::stop, {}, false},
}};

void on_terminating_signal(int sig, siginfo_t* info, void*) {
  const int saved_errno = errno;
  restore_terminal();
  for (HandledSignal& h : g_signals) {
    if (h.sig != sig) continue;
    ::sigaction(sig, &h.previous, nullptr);
    // A fault the processor raised comes back when the faulting instruction runs again, now
    // with its own address and code for whoever handles it next (a debugger, a sanitizer, the
    // core dump). One sent by kill() or raise() must be sent again.
    const bool hardware_fault = h.kind == Kind::crash && info != nullptr && info->si_code > 0;
    if (!hardware_fault) ::raise(sig);
    break;
  }
  errno = saved_errno;
}

void on_stop_signal(int sig) {
  const int saved_errno = errno;
  restore_terminal();

  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  struct sigaction ours {};
  ::sigaction(sig, &stop, &ours);
  sigset_t only_this;
  sigemptyset(&only_this);
  sigaddset(&only_this, sig);
  ::sigprocmask(SIG_UNBLOCK, &only_this, nullptr);
  ::raise(sig);  // the process stops here until it is continued
  ::sigprocmask(SIG_BLOCK, &only_this, nullptr);
  ::sigaction(sig, &ours, nullptr);

  if (g_term.raw_active.load()) ::tcsetattr(g_term.in_fd, TCSANOW, &g_term.raw);
  if (g_term.colour_active.load()) {
    write_all(g_term.out_fd, g_term.colour_seq.data(), g_term.colour_seq_len.load());
  }
  errno = saved_errno;
}

void install_signal_handlers() {
  for (HandledSignal& h : g_signals) {
    struct sigaction previous {};
    if (::sigaction(h.sig, nullptr, &previous) != 0) continue;
    const bool ignored = (previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN;
    if (ignored && h.kind != Kind::crash) continue;
    h.previous = previous;

    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (h.kind == Kind::stop) {
      action.sa_handler = on_stop_signal;
      action.sa_flags = SA_RESTART;
    } else {
      action.sa_sigaction = on_terminating_signal;
      // On the alternate stack when someone set one up, so a stack overflow is caught too.
      action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    }
    h.installed = ::sigaction(h.sig, &action, nullptr) == 0;
  }
}

void uninstall_signal_handlers() {
  for (HandledSignal& h : g_signals) {
    if (h.installed) ::sigaction(h.sig, &h.previous, nullptr);
    h.installed = false;
  }
}

// ---------------------------------------------------------------------------------------------
// Text

// Windows-1252 code points of the bytes 0x80..0x9F (0 where the code page defines none); every
// other byte from 0xA0 up is the code point of the same value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

// What the terminal can show beyond ASCII, from the locale the user set for it.
enum class Charset { utf8, latin1, ascii };

// The character set of a locale name such as "de_DE.UTF-8", "C.utf8", "fr_FR.ISO-8859-15" or
// "C". A locale without a character set we know shows ASCII only, which every terminal can.
Charset charset_of_locale(std::string_view name) {
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos) return Charset::ascii;
  std::string codeset;
  for (const char c : name.substr(dot + 1, name.find('@', dot) - dot - 1)) {
    if (c == '-' || c == '_') continue;
    codeset += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (codeset == "utf8") return Charset::utf8;
  // In all of these the byte 241 is the letter the program means.
  if (codeset == "iso88591" || codeset == "iso885915" || codeset == "latin1" ||
      codeset == "cp1252") {
    return Charset::latin1;
  }
  return Charset::ascii;
}

// The terminal's locale as the C library would choose it: LC_ALL, then LC_CTYPE, then LANG.
Charset terminal_charset() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = ::getenv(variable);
    if (value != nullptr && *value != '\0') return charset_of_locale(value);
  }
  return Charset::ascii;  // the C locale
}

// A plain stand-in for a character an ASCII terminal cannot show.
char ascii_substitute(char32_t cp) {
  switch (cp) {
    case 0xF1:  // the separator of the result line
      return 'n';
    case 0xD1:
      return 'N';
    case 0xB7:  // middle dot
      return '-';
    default:
      return '?';
  }
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_layout(unsigned char byte) {
  return byte == '\t' || byte == '\n' || byte == '\r' || byte == '\b' || byte == '\a';
}

// The program's 8-bit text in the terminal's character set. Control bytes that could start a
// terminal command (ESC above all) are dropped; with `keep_layout`, tab, line feed, carriage
// return, backspace and bell pass through.
std::string convert_text(std::string_view text, bool keep_layout, Charset charset) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) {
      if (keep_layout && is_layout(byte)) out += ch;
      continue;
    }
    if (byte < 0x80) {
      out += ch;
      continue;
    }
    const char32_t cp = byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
    if (charset == Charset::utf8) {
      append_utf8(out, cp != 0 ? cp : kReplacement);
    } else if (charset == Charset::latin1 && byte >= 0xA0) {
      out += ch;
    } else {
      out += ascii_substitute(cp);
    }
  }
  return out;
}

// Console colours carry blue in bit 0 and red in bit 2, ANSI colours the other way round;
// bit 3 is brightness in both.
int ansi_foreground(int colour) {
  const int rgb = ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2);
  return ((colour & 8) != 0 ? 90 : 30) + rgb;
}

void sleep_ms(int ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// ---------------------------------------------------------------------------------------------

class TerminalConsole final : public Console {
 public:
  TerminalConsole(int in_fd, int out_fd);
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  void set_title(std::string_view name, std::string_view text) override;
  void move_window(int x, int y) override;
  void clear() override;
  void bring_to_front() override;
  void set_colour(int colour) override;
  int colour() const override { return colour_; }
  void print_text(std::string_view text) override;
  void print_name(std::string_view name) override;
  void new_line() override;
  int read_key() override;
  void wait_key() override;
  void beep(int pause_ms) override;

 private:
  // next_key's answer for a key without a character code, read and dropped: an escape
  // sequence (an arrow or function key) or Alt+key.
  static constexpr int kSequence = -2;

  int next_key();
  int read_byte(int timeout_ms);
  void write_out(std::string_view bytes) const { write_all(out_fd_, bytes.data(), bytes.size()); }

  int in_fd_;
  int out_fd_;
  bool on_terminal_;  // either end is a terminal, so there is a terminal window to speak of
  bool out_is_tty_;
  bool smart_;  // escape sequences are understood
  bool owner_;  // this console saves and restores the terminal
  // The program's text goes to a terminal in the characters its locale can show; to a file or
  // pipe always as UTF-8, so a log reads the same in any editor.
  Charset charset_ = Charset::utf8;
  std::string_view line_end_ = "\n";
  int colour_ = -1;
  int pushed_back_ = -1;  // a byte read past a broken escape sequence, next in line
  bool input_ended_ = false;
};

TerminalConsole::TerminalConsole(int in_fd, int out_fd)
    : in_fd_(in_fd),
      out_fd_(out_fd),
      on_terminal_(::isatty(in_fd) == 1 || ::isatty(out_fd) == 1),
      out_is_tty_(::isatty(out_fd) == 1),
      smart_(false),
      owner_(false) {
  const char* term = ::getenv("TERM");
  smart_ = out_is_tty_ && term != nullptr && *term != '\0' && ::strcmp(term, "dumb") != 0;
  if (out_is_tty_) charset_ = terminal_charset();

  termios out_mode{};
  if (out_is_tty_ && ::tcgetattr(out_fd, &out_mode) == 0) {
    // Normally the terminal turns "\n" into CR LF itself; a terminal set up without output
    // processing needs the CR from us.
    if ((out_mode.c_oflag & OPOST) == 0 || (out_mode.c_oflag & ONLCR) == 0) line_end_ = "\r\n";
  }

  owner_ = !g_terminal_claimed.exchange(true);
  if (!owner_) return;

  termios found{};
  const bool keyboard = ::isatty(in_fd) == 1 && ::tcgetattr(in_fd, &found) == 0;
  if (!keyboard && !smart_) return;  // nothing we change needs restoring

  g_term.in_fd = in_fd;
  g_term.out_fd = out_fd;
  static const bool exit_hook_registered = ::atexit(restore_at_exit) == 0;
  (void)exit_hook_registered;
  install_signal_handlers();

  if (keyboard) {
    // Keys arrive one by one without echo; output processing and Ctrl+C stay as they were.
    termios raw = found;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    g_term.saved = found;
    g_term.raw = raw;
    g_term.raw_active = true;
    if (::tcsetattr(in_fd, TCSANOW, &raw) != 0) g_term.raw_active = false;
  }
}

TerminalConsole::~TerminalConsole() {
  if (!owner_) return;
  release_terminal();
  uninstall_signal_handlers();
  g_terminal_claimed = false;
}

void TerminalConsole::set_title(std::string_view name, std::string_view text) {
  if (!smart_) return;
  std::string osc = "\x1b]0;";
  // Escaped, a name cannot end the title early (BEL, ST) nor start a command of its own.
  osc += shown_text(name, charset_ == Charset::utf8);
  osc += convert_text(text, false, charset_);
  osc += '\a';
  write_out(osc);
}

void TerminalConsole::move_window(int x, int y) {
  if (on_terminal_) move_terminal_window(x, y);
}

void TerminalConsole::clear() {
  if (smart_) write_out("\x1b[2J\x1b[H");
}

void TerminalConsole::bring_to_front() {
  if (on_terminal_) raise_terminal_window();
}

void TerminalConsole::set_colour(int colour) {
  if (!smart_ || colour < -1 || colour > 15 || colour == colour_) return;
  if (colour == -1) {
    colour_ = -1;
    if (owner_) g_term.colour_active = false;
    write_out(kDefaultColour);
    return;
  }
  colour_ = colour;
  std::string seq = "\x1b[" + std::to_string(ansi_foreground(colour)) + "m";
  if (owner_) {
    g_term.colour_seq_len = 0;
    seq.copy(g_term.colour_seq.data(), g_term.colour_seq.size());
    g_term.colour_seq_len = seq.size();
    g_term.colour_active = true;
  }
  write_out(seq);
}

void TerminalConsole::print_text(std::string_view text) {
  write_out(convert_text(text, true, charset_));
}

void TerminalConsole::print_name(std::string_view name) {
  write_out(shown_text(name, charset_ == Charset::utf8));
}

void TerminalConsole::new_line() {
  write_out(line_end_);
}

int TerminalConsole::read_byte(int timeout_ms) {
  if (pushed_back_ >= 0) {
    const int byte = pushed_back_;
    pushed_back_ = -1;
    return byte;
  }
  if (input_ended_) return -1;

  pollfd p{in_fd_, POLLIN, 0};
  int ready;
  do ready = ::poll(&p, 1, timeout_ms);
  while (ready < 0 && errno == EINTR);
  if (ready < 0 || (p.revents & POLLNVAL) != 0) {
    input_ended_ = true;  // no usable input at all: behave as at its end
    return -1;
  }
  if (ready == 0) return -1;

  unsigned char byte = 0;
  ssize_t n;
  do n = ::read(in_fd_, &byte, 1);
  while (n < 0 && errno == EINTR);
  if (n == 1) return byte;
  // Readable yet nothing to read is the end of a pipe or file, or a terminal hung up.
  if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) input_ended_ = true;
  return -1;
}

int TerminalConsole::next_key() {
  const int byte = read_byte(0);
  if (byte != 27) return byte;

  const int second = read_byte(kEscapeWaitMs);
  if (second < 0) return 27;
  if (second == 'O') {  // SS3: one more byte (F1..F4, keypad arrows)
    read_byte(kEscapeWaitMs);
    return kSequence;
  }
  // Escape with a byte close behind it is one key: Alt+key (or Alt+Escape), or pasted text.
  // Only an Escape alone ends the search.
  if (second != '[') return kSequence;
  // CSI: parameter and intermediate bytes up to a final byte in 0x40..0x7E. The Linux console
  // sends F1..F5 as ESC [ [ A..E, whose '[' is no final byte here.
  bool first = true;
  for (;;) {
    const int c = read_byte(kEscapeWaitMs);
    if (c < 0) break;
    if (c < 0x20 || c > 0x7E) {
      pushed_back_ = c;  // not part of a sequence: a broken one ends here
      break;
    }
    if (first && c == '[') {
      first = false;
      continue;
    }
    first = false;
    if (c >= 0x40) break;
  }
  return kSequence;
}

int TerminalConsole::read_key() {
  int key;
  do key = next_key();
  while (key == kSequence);
  return key;
}

void TerminalConsole::wait_key() {
  for (;;) {
    if (pushed_back_ < 0 && !input_ended_) {
      pollfd p{in_fd_, POLLIN, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) return;
    }
    // Any key press ends the wait, an arrow key as much as a letter.
    if (next_key() != -1) return;
    if (input_ended_) return;
  }
}

void TerminalConsole::beep(int pause_ms) {
  // A terminal rings its bell, even a dumb one; a log file gets no bell characters.
  if (out_is_tty_) write_out("\a");
  sleep_ms(pause_ms);
}

}  // namespace

std::unique_ptr<Console> open_terminal_console(int input_fd, int output_fd) {
  return std::make_unique<TerminalConsole>(input_fd, output_fd);
}

std::unique_ptr<Console> open_terminal_console() {
  return open_terminal_console(STDIN_FILENO, STDOUT_FILENO);
}

bool terminal_reads_utf8() {
  return terminal_charset() == Charset::utf8;
}

}  // namespace lyap
