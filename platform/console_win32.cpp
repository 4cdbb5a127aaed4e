// The console on Windows: the Win32 console when standard output or input is one, plain text
// and bytes when they are redirected. The console's text colour is put back on every way out
// of the program that runs code of ours: return, exit, Ctrl+C, Ctrl+Break, closing the window.
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "platform/console.hpp"
#include "platform/shown_text.hpp"
#include "platform/text_win32.hpp"

namespace lyap {

namespace {

// The attributes we found, and the output they belong to, for the control handler.
std::atomic<HANDLE> g_coloured_output{nullptr};
std::atomic<WORD> g_found_attributes{0};

void restore_colour() {
  const HANDLE out = g_coloured_output.exchange(nullptr);
  if (out != nullptr) SetConsoleTextAttribute(out, g_found_attributes.load());
}

// Runs on a thread of its own when Ctrl+C, Ctrl+Break or a close ends the process; the
// default handler, called next, ends it.
BOOL WINAPI on_console_control(DWORD) {
  restore_colour();
  return FALSE;
}

bool is_modifier(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

bool is_control(wchar_t c, bool keep_layout) {
  const bool layout = c == L'\t' || c == L'\r' || c == L'\n' || c == L'\b' || c == L'\a';
  return (c < 0x20 && !(keep_layout && layout)) || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

// UTF-16 as UTF-8, control characters other than layout dropped: a redirected output gets
// UTF-8, as the Linux build writes it, so a log reads the same in an editor.
std::string plain_text(std::wstring_view text) {
  std::string out;
  for (const wchar_t c : text) {
    if (is_control(c, true) || c == L'\a') continue;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class Win32Console final : public Console {
 public:
  Win32Console();
  ~Win32Console() override;
  Win32Console(const Win32Console&) = delete;
  Win32Console& operator=(const Win32Console&) = delete;

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
  // A key-down event read from the console: its character, 27 for Escape, kNoCharacter for a
  // key without one (arrows, function keys); -1 when no key event was pending.
  static constexpr int kNoCharacter = -2;
  int next_console_key();
  int next_byte(bool wait);
  int next_redirected_key();
  void write_plain(std::string_view bytes) const;
  void write_wide(std::wstring text) const;

  HANDLE in_;
  HANDLE out_;
  bool console_in_ = false;
  bool console_out_ = false;
  bool owner_ = false;  // this console restores the colour on the way out
  WORD found_attributes_ = 0;
  int colour_ = -1;
  bool input_ended_ = false;
};

std::atomic<bool> g_console_claimed{false};

Win32Console::Win32Console()
    : in_(GetStdHandle(STD_INPUT_HANDLE)), out_(GetStdHandle(STD_OUTPUT_HANDLE)) {
  DWORD mode = 0;
  console_in_ = in_ != nullptr && in_ != INVALID_HANDLE_VALUE && GetConsoleMode(in_, &mode);
  console_out_ = out_ != nullptr && out_ != INVALID_HANDLE_VALUE && GetConsoleMode(out_, &mode);
  if (!console_in_ && (in_ == nullptr || in_ == INVALID_HANDLE_VALUE)) input_ended_ = true;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console_out_ && GetConsoleScreenBufferInfo(out_, &info)) {
    found_attributes_ = info.wAttributes;
    owner_ = !g_console_claimed.exchange(true);
    if (owner_) {
      g_found_attributes = found_attributes_;
      SetConsoleCtrlHandler(on_console_control, TRUE);
    }
  }
}

Win32Console::~Win32Console() {
  if (!owner_) return;
  restore_colour();
  SetConsoleCtrlHandler(on_console_control, FALSE);
  g_console_claimed = false;
}

void Win32Console::set_title(std::string_view name, std::string_view text) {
  if (!(console_in_ || console_out_)) return;
  std::wstring own = wide_from_cp1252(text);
  std::erase_if(own, [](wchar_t c) { return is_control(c, false); });
  SetConsoleTitleW((wide_path(shown_text(name, true)) + own).c_str());
}

void Win32Console::move_window(int x, int y) {
  // Null for a console without a window of its own; a terminal that hosts consoles in tabs
  // gives a window that does not move, and SetWindowPos quietly does nothing.
  const HWND window = GetConsoleWindow();
  if (window == nullptr || !(console_in_ || console_out_)) return;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Console::clear() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!console_out_ || !GetConsoleScreenBufferInfo(out_, &info)) return;
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  DWORD done = 0;
  FillConsoleOutputCharacterW(out_, L' ', cells, COORD{0, 0}, &done);
  FillConsoleOutputAttribute(out_, info.wAttributes, cells, COORD{0, 0}, &done);
  SetConsoleCursorPosition(out_, COORD{0, 0});
}

void Win32Console::bring_to_front() {
  const HWND window = GetConsoleWindow();
  if (window == nullptr || !(console_in_ || console_out_)) return;
  SetForegroundWindow(window);
}

void Win32Console::set_colour(int colour) {
  if (!console_out_ || colour < -1 || colour > 15 || colour == colour_) return;
  colour_ = colour;
  // The background stays the console's own.
  const WORD attributes =
      colour == -1 ? found_attributes_ : static_cast<WORD>((found_attributes_ & 0xFFF0) | colour);
  if (owner_) g_coloured_output = colour == -1 ? nullptr : out_;
  SetConsoleTextAttribute(out_, attributes);
}

void Win32Console::write_plain(std::string_view bytes) const {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(out_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return;  // output gone (closed, disk full): the log is lost, the run goes on
    }
    bytes.remove_prefix(written);
  }
}

void Win32Console::write_wide(std::wstring text) const {
  if (!console_out_) {
    write_plain(plain_text(text));
    return;
  }
  std::erase_if(text, [](wchar_t c) { return is_control(c, true); });
  DWORD written = 0;
  WriteConsoleW(out_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Win32Console::print_text(std::string_view text) {
  write_wide(wide_from_cp1252(text));
}

void Win32Console::print_name(std::string_view name) {
  write_wide(wide_path(shown_text(name, true)));
}

void Win32Console::new_line() {
  if (!console_out_) {
    write_plain("\r\n");
    return;
  }
  DWORD written = 0;
  WriteConsoleW(out_, L"\r\n", 2, &written, nullptr);
}

int Win32Console::next_console_key() {
  for (;;) {
    DWORD pending = 0;
    if (!GetNumberOfConsoleInputEvents(in_, &pending) || pending == 0) return -1;
    INPUT_RECORD record{};
    DWORD got = 0;
    if (!ReadConsoleInputW(in_, &record, 1, &got) || got == 0) return -1;
    if (record.EventType != KEY_EVENT) continue;  // mouse, focus, resizing
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || is_modifier(key.wVirtualKeyCode)) continue;
    // Escape with Alt or Ctrl held is no Escape of the user's.
    constexpr DWORD held =
        LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED;
    if (key.wVirtualKeyCode == VK_ESCAPE) {
      return (key.dwControlKeyState & held) != 0 ? kNoCharacter : 27;
    }
    const wchar_t c = key.uChar.UnicodeChar;
    if (c == 0) return kNoCharacter;
    const std::string text = cp1252_from_wide(std::wstring_view(&c, 1));
    return text.empty() ? '?' : static_cast<unsigned char>(text[0]);
  }
}

// A byte of redirected input, -1 when none is there (or, waiting, at its end).
int Win32Console::next_byte(bool wait) {
  if (input_ended_) return -1;
  if (!wait && GetFileType(in_) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(in_, nullptr, 0, nullptr, &available, nullptr)) {
      input_ended_ = true;  // the writer is gone
      return -1;
    }
    if (available == 0) return -1;
  }
  unsigned char byte = 0;
  DWORD got = 0;
  if (!ReadFile(in_, &byte, 1, &got, nullptr) || got == 0) {
    input_ended_ = true;
    return -1;
  }
  return byte;
}

// A key of redirected input. As on a terminal, an Escape with a byte close behind it is
// Alt+key or an escape sequence, one key without a character: only an Escape alone counts.
int Win32Console::next_redirected_key() {
  const int byte = next_byte(false);
  if (byte != 27) return byte;
  for (int waited_ms = 0; waited_ms < 50; waited_ms += 5) {
    if (next_byte(false) >= 0) return kNoCharacter;
    if (input_ended_) break;
    Sleep(5);
  }
  return 27;
}

int Win32Console::read_key() {
  if (!console_in_) {
    int key;
    do key = next_redirected_key();
    while (key == kNoCharacter);
    return key;
  }
  int key;
  do key = next_console_key();
  while (key == kNoCharacter);
  return key;
}

void Win32Console::wait_key() {
  if (!console_in_) {
    next_byte(true);
    return;
  }
  // Any key press ends the wait, an arrow key as much as a letter.
  while (next_console_key() == -1) {
    if (WaitForSingleObject(in_, INFINITE) != WAIT_OBJECT_0) return;
  }
}

void Win32Console::beep(int pause_ms) {
  // A log file gets no sound; a console window rings the system's default sound.
  if (console_out_) MessageBeep(MB_OK);
  if (pause_ms > 0) Sleep(static_cast<DWORD>(pause_ms));
}

}  // namespace

std::unique_ptr<Console> open_terminal_console() {
  return std::make_unique<Win32Console>();
}

bool terminal_reads_utf8() {
  // Names travel as UTF-8 and reach the console as UTF-16, whatever its code page.
  return true;
}

}  // namespace lyap
