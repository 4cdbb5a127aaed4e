// The terminal console against real pseudo-terminals, pipes and files, and against signals in
// child processes: the terminal must come back exactly as it was on every way out.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "deadline.hpp"
#include "platform/console.hpp"
#include "platform/terminal_posix.hpp"

namespace lyap {
namespace {

// Generous bound for a child or the terminal driver to deliver what it was asked for; only a
// broken console ever waits this long.
constexpr int kPatienceMs = 10000;

void write_fully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ASSERT_GT(n, 0) << strerror(errno);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kPatienceMs) == 1;
}

// Bytes from `fd` until `marker` has arrived (or nothing more comes).
std::string read_until(int fd, std::string_view marker) {
  std::string got;
  while (got.find(marker) == std::string::npos && readable(fd)) {
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

termios mode_of(int fd) {
  termios mode{};
  EXPECT_EQ(::tcgetattr(fd, &mode), 0) << strerror(errno);
  return mode;
}

// Field by field: the struct has padding that tcgetattr does not promise to fill alike.
bool same_mode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

bool is_raw(const termios& mode) {
  return (mode.c_lflag & (ICANON | ECHO)) == 0 && mode.c_cc[VMIN] == 0 && mode.c_cc[VTIME] == 0;
}

class Pty {
 public:
  Pty() {
    EXPECT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0) << strerror(errno);
    // Not the driver's default, so that "restored" cannot mean "reset to defaults".
    termios mode = mode_of(slave_);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHOE | ECHOCTL);
    mode.c_iflag |= IXANY;
    mode.c_cc[VMIN] = 3;
    mode.c_cc[VTIME] = 7;
    EXPECT_EQ(::tcsetattr(slave_, TCSANOW, &mode), 0);
  }
  ~Pty() {
    ::close(master_);
    ::close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  int slave() const { return slave_; }

  // Keys as the terminal emulator sends them; returns once the console side can read them.
  void type(std::string_view keys) {
    write_fully(master_, keys);
    ASSERT_TRUE(readable(slave_));
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    close_read();
    close_write();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int read_end() const { return fds[0]; }
  int write_end() const { return fds[1]; }
  void close_read() {
    if (fds[0] >= 0) ::close(fds[0]);
    fds[0] = -1;
  }
  void close_write() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
  }

  int fds[2] = {-1, -1};
};

// An environment variable (TERM, the locale) as a test needs it, put back afterwards; null
// unsets it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A file that collects a console's output.
class OutputFile {
 public:
  OutputFile() {
    char name[] = "/tmp/terminal_test_XXXXXX";
    fd_ = ::mkstemp(name);
    EXPECT_GE(fd_, 0);
    ::unlink(name);
  }
  ~OutputFile() { ::close(fd_); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int fd() const { return fd_; }
  std::string contents() const {
    std::string all;
    char buffer[256];
    ssize_t n;
    off_t at = 0;
    while ((n = ::pread(fd_, buffer, sizeof buffer, at)) > 0) {
      all.append(buffer, static_cast<size_t>(n));
      at += n;
    }
    return all;
  }

 private:
  int fd_ = -1;
};

std::vector<int> keys_until_none(Console& console) {
  std::vector<int> keys;
  for (int key = console.read_key(); key != -1 && keys.size() < 16; key = console.read_key()) {
    keys.push_back(key);
  }
  return keys;
}

// Every test here talks to a terminal, a pipe or a child that could leave it waiting. The
// terminal's locale is UTF-8 unless a test says otherwise.
class TerminalConsole : public ::testing::Test {
  testing::Deadline deadline_;
  ScopedEnv locale_{"LC_ALL", "C.UTF-8"};
};

// ---------------------------------------------------------------------------------------------
// Keyboard mode

TEST_F(TerminalConsole, KeyboardIsRawWhileOpenAndExactlyAsBeforeAfterwards) {
  Pty pty;
  const termios before = mode_of(pty.slave());
  {
    auto console = open_terminal_console(pty.slave(), pty.slave());
    const termios during = mode_of(pty.slave());
    EXPECT_TRUE(is_raw(during));
    // Ctrl+C must still interrupt, and "\n" still reach the screen as a line break.
    EXPECT_NE(during.c_lflag & ISIG, 0u);
    EXPECT_EQ(during.c_oflag, before.c_oflag);
    EXPECT_EQ(during.c_iflag, before.c_iflag);
  }
  EXPECT_TRUE(same_mode(mode_of(pty.slave()), before));
}

TEST_F(TerminalConsole, ASecondConsoleLeavesTheTerminalToTheFirst) {
  Pty pty;
  const termios before = mode_of(pty.slave());
  auto first = open_terminal_console(pty.slave(), pty.slave());
  open_terminal_console(pty.slave(), pty.slave()).reset();
  EXPECT_TRUE(is_raw(mode_of(pty.slave())));
  first.reset();
  EXPECT_TRUE(same_mode(mode_of(pty.slave()), before));
}

// ---------------------------------------------------------------------------------------------
// Keys

struct KeyCase {
  const char* name;
  std::string_view typed;
  std::vector<int> keys;
};

const KeyCase kKeyCases[] = {
    {"plain key", "x", {'x'}},
    {"two keys", "ab", {'a', 'b'}},
    {"lone Escape", "\x1b", {27}},
    // Whatever arrives together with an Escape makes one key without a character: Alt+key,
    // Alt+Escape, pasted text. Only a lone Escape ends a search.
    {"Alt+Escape", "\x1b\x1b", {}},
    {"Alt+key", "\x1bq", {}},
    {"Alt+key then key", "\x1bqx", {'x'}},
    {"pasted text with an Escape",
     "ab\x1b"
     "cd",
     {'a', 'b', 'd'}},
    {"arrow up", "\x1b[A", {}},
    {"arrow then key", "\x1b[Ax", {'x'}},
    {"function key with parameters", "\x1b[15;2~z", {'z'}},
    {"SS3 function key", "\x1bOPq", {'q'}},
    {"Linux console F1", "\x1b[[Ab", {'b'}},
    {"broken sequence then Escape", "\x1b[1\x1b", {27}},
    {"8-bit byte", "\xf1", {0xF1}},
};

TEST_F(TerminalConsole, KeysFromTheTerminal) {
  for (const KeyCase& c : kKeyCases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    auto console = open_terminal_console(pty.slave(), pty.slave());
    pty.type(c.typed);
    EXPECT_EQ(keys_until_none(*console), c.keys);
  }
}

TEST_F(TerminalConsole, KeysFromAPipeThatStaysOpen) {
  OutputFile out;
  for (const KeyCase& c : kKeyCases) {
    SCOPED_TRACE(c.name);
    Pipe in;
    write_fully(in.write_end(), c.typed);
    auto console = open_terminal_console(in.read_end(), out.fd());
    EXPECT_EQ(keys_until_none(*console), c.keys);
  }
}

TEST_F(TerminalConsole, EndOfInputMeansNoKeysEverAndNoWaiting) {
  Pipe in;
  OutputFile out;
  write_fully(in.write_end(), "k\x1b");
  in.close_write();
  auto console = open_terminal_console(in.read_end(), out.fd());
  EXPECT_EQ(console->read_key(), 'k');
  EXPECT_EQ(console->read_key(), 27);  // the input ending counts as the pause after it
  EXPECT_EQ(console->read_key(), -1);
  EXPECT_EQ(console->read_key(), -1);
  console->wait_key();
  console->wait_key();
}

TEST_F(TerminalConsole, WaitKeyOnDevNullReturns) {
  const int null_fd = ::open("/dev/null", O_RDWR);
  ASSERT_GE(null_fd, 0);
  auto console = open_terminal_console(null_fd, null_fd);
  EXPECT_EQ(console->read_key(), -1);
  console->wait_key();
  console.reset();
  ::close(null_fd);
}

TEST_F(TerminalConsole, WaitKeyTakesExactlyOneKeyPress) {
  struct Case {
    const char* name;
    std::string_view typed;
    std::vector<int> left;
  };
  const Case cases[] = {
      {"letter", "ab", {'b'}},
      {"arrow", "\x1b[Bc", {'c'}},
      {"Alt+key", "\x1bxy", {'y'}},
      {"Escape", "\x1b", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    auto console = open_terminal_console(pty.slave(), pty.slave());
    pty.type(c.typed);
    console->wait_key();
    EXPECT_EQ(keys_until_none(*console), c.left);
  }
}

// ---------------------------------------------------------------------------------------------
// Output

TEST_F(TerminalConsole, ConsoleColoursAsAnsiForegrounds) {
  // Console colours are blue = 1, green = 2, red = 4, bright = 8.
  const char* expected[16] = {"30", "34", "32", "36", "31", "35", "33", "37",
                              "90", "94", "92", "96", "91", "95", "93", "97"};
  ScopedEnv term("TERM", "xterm-256color");
  Pty pty;
  auto console = open_terminal_console(pty.slave(), pty.slave());
  std::string wanted;
  for (int colour = 0; colour < 16; ++colour) {
    console->set_colour(colour);
    console->print_text("*");
    wanted += std::string("\x1b[") + expected[colour] + "m*";
  }
  console->print_text("END");
  EXPECT_EQ(read_until(pty.master(), "END"), wanted + "END");
}

TEST_F(TerminalConsole, SmartTerminalGetsEscapesAndUtf8) {
  ScopedEnv term("TERM", "xterm");
  Pty pty;
  auto console = open_terminal_console(pty.slave(), pty.slave());
  console->set_title("lyap", "\xf1");
  console->clear();
  console->set_colour(14);
  console->print_text("3");
  console->set_colour(14);  // already yellow: nothing to send
  console->print_text("5");
  console->new_line();
  console->set_colour(15);
  console->print_text(" 1.00\xf1.0004");
  console->new_line();
  console->set_colour(11);
  console->print_text(" 23");
  console->beep(0);
  console->print_text("END");
  EXPECT_EQ(read_until(pty.master(), "END"),
            "\x1b]0;lyap\xc3\xb1\a"
            "\x1b[2J\x1b[H"
            "\x1b[93m35\r\n"
            "\x1b[97m 1.00\xc3\xb1.0004\r\n"
            "\x1b[96m 23\aEND");
  console.reset();
  // Whoever uses the terminal next starts in its own colour.
  EXPECT_EQ(read_until(pty.master(), "\x1b[39m"), "\x1b[39m");
}

TEST_F(TerminalConsole, PlainOutputHasNoEscapes) {
  struct Case {
    const char* name;
    const char* term;
    bool to_file;
    std::string_view expected;
  };
  const Case cases[] = {
      // A terminal without cursor control still has a bell.
      {"dumb terminal", "dumb", false, "35\r\n\xc3\xb1\aEND"},
      {"terminal without TERM", nullptr, false, "35\r\n\xc3\xb1\aEND"},
      {"redirected to a file", "xterm", true,
       "35\n\xc3\xb1"
       "END"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv term("TERM", c.term);
    Pty pty;
    OutputFile file;
    const int out = c.to_file ? file.fd() : pty.slave();
    auto console = open_terminal_console(pty.slave(), out);
    console->set_title("title", "");
    console->clear();
    console->set_colour(14);
    console->print_text("3");
    console->set_colour(15);
    console->print_text("5");
    console->new_line();
    console->print_text("\xf1");
    console->beep(0);
    console->print_text("END");
    console.reset();
    EXPECT_EQ(c.to_file ? file.contents() : read_until(pty.master(), "END"), c.expected);
  }
}

// The program's text in what the terminal's locale can show; names from the system as they
// are, whatever the locale, but for control characters, which are shown escaped.
TEST_F(TerminalConsole, TextFollowsTheLocaleAndNamesStayAsTheSystemGaveThem) {
  struct Case {
    const char* lc_all;
    const char* lang;
    std::string_view text;  // what print_text("\xf1\xb7") shows
  };
  const Case cases[] = {
      {"C.UTF-8", nullptr, "\xc3\xb1\xc2\xb7"},
      {nullptr, "de_DE.utf8", "\xc3\xb1\xc2\xb7"},
      {"fr_FR.ISO-8859-15@euro", nullptr, "\xf1\xb7"},
      {"C", "de_DE.UTF-8", "n-"},  // LC_ALL comes first
      {nullptr, nullptr, "n-"},
  };
  // "Ünï dir", then commands: C0 (ESC, BEL, CR), DEL, C1 as UTF-8 (U+009B, and U+009C, which
  // would end the title early), and the raw C1 byte 0x9B.
  const std::string_view name = "\xc3\x9cn\xc3\xaf dir\x1b[2J\x07\r\x7f\xc2\x9b\xc2\x9c\x9b";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lc_all != nullptr ? c.lc_all : c.lang != nullptr ? c.lang : "no locale");
    ScopedEnv term("TERM", "xterm");
    ScopedEnv lc_all("LC_ALL", c.lc_all);
    ScopedEnv lc_ctype("LC_CTYPE", nullptr);
    ScopedEnv lang("LANG", c.lang);
    Pty pty;
    auto console = open_terminal_console(pty.slave(), pty.slave());
    console->set_title(name, "\xf1");
    console->print_name(name);
    console->print_text("\xf1\xb7");
    console->print_text("END");
    // Not in UTF-8, a terminal takes the bytes 0x80..0x9F as commands (0x9C ends a title).
    const bool utf8 = c.text.size() == 4;
    const std::string shown =
        utf8 ? "\xc3\x9cn\xc3\xaf dir\\033[2J\\a\\r\\177\\302\\233\\302\\234\\233"
             : "\xc3\\234n\xc3\xaf dir\\033[2J\\a\\r\\177\xc2\\233\xc2\\234\\233";
    EXPECT_EQ(read_until(pty.master(), "END"),
              "\x1b]0;" + shown + std::string(c.text.substr(0, c.text.size() / 2)) + "\a" + shown +
                  std::string(c.text) + "END");
  }
  // A log file gets UTF-8 whatever the locale says.
  ScopedEnv lc_all("LC_ALL", "C");
  OutputFile file;
  Pipe in;
  auto console = open_terminal_console(in.read_end(), file.fd());
  console->print_text("\xf1");
  console->print_name("\xc3\x9c\x1b");
  EXPECT_EQ(file.contents(), "\xc3\xb1\xc3\x9c\\033");
}

TEST_F(TerminalConsole, WindowsTextBecomesUtf8) {
  struct Case {
    std::string_view text;
    std::string_view utf8;
  };
  const Case cases[] = {
      {"plain ASCII ~", "plain ASCII ~"},
      {"\xf1", "\xc3\xb1"},                                  // the result line's separator
      {"\xa0\xff", "\xc2\xa0\xc3\xbf"},                      // Latin-1 half
      {"\x80\x99\x9f", "\xe2\x82\xac\xe2\x84\xa2\xc5\xb8"},  // the 0x80..0x9F block
      {"\x81\x8d\x8f\x90\x9d", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"a\tb\r\n", "a\tb\r\n"},
      // The program never prints control sequences of its own through text.
      {"a\x1b[2Jb\x7f\x01", "a[2Jb"},
  };
  for (const Case& c : cases) {
    OutputFile file;
    Pipe in;
    auto console = open_terminal_console(in.read_end(), file.fd());
    console->print_text(c.text);
    EXPECT_EQ(file.contents(), c.utf8);
  }
}

// ---------------------------------------------------------------------------------------------
// Every way out of a process restores the terminal. Children run the real console on a pty as
// their standard input and output and report to the test through a pipe.

// For children: one byte to or from the test, or the child ends there.
void say(int fd, char byte) {
  if (::write(fd, &byte, 1) != 1) ::_exit(20);
}
char hear(int fd) {
  char byte = 0;
  ssize_t n;
  do n = ::read(fd, &byte, 1);
  while (n < 0 && errno == EINTR);
  if (n != 1) ::_exit(21);
  return byte;
}

// The child's next report, or 0 when it has none to give (it died, or hangs).
char report_from(int fd) {
  char byte = 0;
  return readable(fd) && ::read(fd, &byte, 1) == 1 ? byte : 0;
}

// A forked child. A child the test gives up on is killed, so that a broken console fails the
// test instead of leaving it waiting for ever.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Its wait status once it has ended, or nothing if it does not end.
  std::optional<int> ended() {
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (handle >= 0) {
      readable(handle);
      ::close(handle);
    }
    int status = 0;
    if (::waitpid(pid_, &status, handle >= 0 ? WNOHANG : 0) != pid_) return std::nullopt;
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_;
};

enum class Ending { kill, destroy, exit_with_console_open, fault, abort, hangup_under_nohup };

// In the child: open the console on stdin/stdout, set a colour, say 'R', then do as told by
// the bytes that arrive on `commands` ('m': report whether the keyboard is raw; the others
// end the child in various ways). Never returns.
[[noreturn]] void run_child(int slave, int report, int commands, bool nohup) {
  const rlimit no_core{0, 0};  // the deaths below are on purpose
  ::setrlimit(RLIMIT_CORE, &no_core);
  // A sanitizer's fault handler would report and exit instead; the program's users see a
  // plain crash.
  ::signal(SIGSEGV, SIG_DFL);
  if (nohup) ::signal(SIGHUP, SIG_IGN);
  ::dup2(slave, STDIN_FILENO);
  ::dup2(slave, STDOUT_FILENO);
  auto console = open_terminal_console();
  console->set_colour(14);
  console->print_text("x");
  say(report, 'R');
  for (;;) {
    switch (hear(commands)) {  // a signal from the test may end the child while it waits here
      case 'm': {
        termios mode{};
        say(report, ::tcgetattr(STDIN_FILENO, &mode) == 0 && is_raw(mode) ? 'r' : 'n');
        break;
      }
      case 'd':
        console.reset();
        ::_exit(0);
      case 'e':
        ::exit(0);  // the console is never destroyed; the exit hook has to restore
      case 'f': {
        // A genuine fault, from the processor rather than from kill().
        void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile char*>(page) = 1;
        ::_exit(3);
      }
      case 'a':
        ::abort();
      default:
        ::_exit(4);
    }
  }
}

struct EndingCase {
  const char* name;
  Ending ending;
  int sig;  // sent by the test for Ending::kill; expected as the cause of death if not 0
};

TEST_F(TerminalConsole, TerminalRestoredOnEveryWayOut) {
  const EndingCase cases[] = {
      {"Ctrl+C", Ending::kill, SIGINT},
      {"SIGTERM", Ending::kill, SIGTERM},
      {"hangup", Ending::kill, SIGHUP},
      {"Ctrl+\\", Ending::kill, SIGQUIT},
      {"SIGSEGV from kill", Ending::kill, SIGSEGV},
      {"console destroyed", Ending::destroy, 0},
      {"exit() with the console open", Ending::exit_with_console_open, 0},
      {"segmentation fault", Ending::fault, SIGSEGV},
      {"abort", Ending::abort, SIGABRT},
      // Started under nohup: the hangup stays ignored and the program runs on.
      {"hangup ignored", Ending::hangup_under_nohup, 0},
  };
  ScopedEnv term("TERM", "xterm");
  for (const EndingCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    Pipe report;
    Pipe commands;
    const termios before = mode_of(pty.slave());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      run_child(pty.slave(), report.write_end(), commands.read_end(),
                c.ending == Ending::hangup_under_nohup);
    }
    Child child(pid);
    report.close_write();  // so a child that dies early shows as the end of its reports

    ASSERT_EQ(report_from(report.read_end()), 'R');
    EXPECT_TRUE(is_raw(mode_of(pty.slave())));
    EXPECT_EQ(read_until(pty.master(), "x"), "\x1b[93mx");

    switch (c.ending) {
      case Ending::kill:
        ::kill(pid, c.sig);
        break;
      case Ending::destroy:
        write_fully(commands.write_end(), "d");
        break;
      case Ending::exit_with_console_open:
        write_fully(commands.write_end(), "e");
        break;
      case Ending::fault:
        write_fully(commands.write_end(), "f");
        break;
      case Ending::abort:
        write_fully(commands.write_end(), "a");
        break;
      case Ending::hangup_under_nohup:
        ::kill(pid, SIGHUP);
        // The child sees the signal before the next command, and still has its keyboard.
        write_fully(commands.write_end(), "m");
        EXPECT_EQ(report_from(report.read_end()), 'r');
        write_fully(commands.write_end(), "d");
        break;
    }
    const std::optional<int> ended = child.ended();
    ASSERT_TRUE(ended.has_value());
    const int status = *ended;

    EXPECT_TRUE(same_mode(mode_of(pty.slave()), before));
    EXPECT_NE(read_until(pty.master(), "\x1b[39m").find("\x1b[39m"), std::string::npos);
    if (c.sig != 0) {
      // Raised again after restoring: the shell still learns which signal it was.
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << "status " << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
  }
}

// Ctrl+Z: the shell gets its terminal back while the program is stopped, and the program its
// raw keyboard and colour once continued. Stopping needs job control, so the child becomes a
// session leader on the pty and runs the console in a grandchild, its foreground job.
TEST_F(TerminalConsole, StopAndContinue) {
  ScopedEnv term("TERM", "xterm");
  Pty pty;
  Pipe report;
  Pipe commands;
  Pipe go;
  const termios before = mode_of(pty.slave());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::setsid() < 0 || ::ioctl(pty.slave(), TIOCSCTTY, 0) != 0) ::_exit(10);
    const pid_t job = ::fork();
    if (job < 0) ::_exit(11);
    if (job == 0) {
      ::setpgid(0, 0);
      hear(go.read_end());  // in the foreground now
      ::dup2(pty.slave(), STDIN_FILENO);
      ::dup2(pty.slave(), STDOUT_FILENO);
      auto console = open_terminal_console();
      console->set_colour(11);
      console->print_text("x");
      say(report.write_end(), 'R');
      // Reading on while stopped; the read completes after the stop handler has finished.
      hear(go.read_end());
      say(report.write_end(), 'C');
      for (;;) ::pause();
    }
    ::setpgid(job, job);
    if (::tcsetpgrp(pty.slave(), job) != 0) ::_exit(13);
    say(go.write_end(), 'g');
    // Relay: report the stop, continue on command, pass the final status on.
    int status = 0;
    ::waitpid(job, &status, WUNTRACED);
    say(report.write_end(), WIFSTOPPED(status) ? 'S' : '?');
    hear(commands.read_end());
    ::kill(job, SIGCONT);
    ::waitpid(job, &status, 0);
    ::_exit(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM ? 0 : 12);
  }
  Child child(pid);  // killing it hangs up the pty, which ends the job too
  report.close_write();

  ASSERT_EQ(report_from(report.read_end()), 'R');
  EXPECT_EQ(read_until(pty.master(), "x"), "\x1b[96mx");
  // The job is the child's child; a stop signal to its process group is what Ctrl+Z sends.
  const pid_t job_group = ::tcgetpgrp(pty.master());
  ASSERT_GT(job_group, 0);
  ::kill(-job_group, SIGTSTP);

  ASSERT_EQ(report_from(report.read_end()), 'S');
  EXPECT_TRUE(same_mode(mode_of(pty.slave()), before));
  EXPECT_EQ(read_until(pty.master(), "\x1b[39m"), "\x1b[39m");

  write_fully(commands.write_end(), "c");
  write_fully(go.write_end(), "w");
  ASSERT_EQ(report_from(report.read_end()), 'C');
  EXPECT_TRUE(is_raw(mode_of(pty.slave())));
  EXPECT_EQ(read_until(pty.master(), "m"), "\x1b[96m");

  ::kill(-job_group, SIGTERM);
  const std::optional<int> ended = child.ended();
  ASSERT_TRUE(ended.has_value());
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) << "status " << *ended;
  EXPECT_TRUE(same_mode(mode_of(pty.slave()), before));
}

}  // namespace
}  // namespace lyap
