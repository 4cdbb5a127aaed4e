// Text from outside the program (file and folder names, arguments, the system's words for a
// failure) as it may be shown on the terminal. Such text is never printed raw: a control
// character in it could retitle the terminal, clear its screen or reprogram its keys. It is shown
// the way GNU ls -b shows a file name: the usual C escapes (\a \b \t \n \v \f \r) and a
// backslash with three octal digits (\033) for every other byte of a control character. That is
// C0 and DEL always, and C1 too: on a terminal that reads UTF-8, U+0080..U+009F (and any byte
// that is not well-formed UTF-8, which some terminals take as C1); on any other, the raw bytes
// 0x80..0x9F. Everything else passes unchanged, so a name shows as the system has it.
//
// A backslash itself is left alone: it is the path separator on Windows, and the form is for
// reading, not for reading back. Files keep their names as they are; only the terminal sees this.
#pragma once

#include <string>
#include <string_view>

namespace lyap {

// `text` made safe for a terminal that reads UTF-8 (`utf8`) or single bytes.
std::string shown_text(std::string_view text, bool utf8);

// `text` made safe for the terminal the program writes to: shown_text(text,
// terminal_reads_utf8()). For whatever prints outside text without a console: --help's program
// name, the command line's error messages.
std::string shown_text(std::string_view text);

// Whether the program's terminal reads UTF-8. On POSIX its locale tells (LC_ALL, then LC_CTYPE,
// then LANG); the Windows console always does, its names reaching it from UTF-8.
bool terminal_reads_utf8();

}  // namespace lyap
