// Text at the edges of the Win32 API, shared by the Windows backends. The program's own text is
// 8-bit Windows-1252; file names are in the system's ANSI code page, as the C library's fopen
// and std::filesystem take them on Windows.
#pragma once

#include <string>
#include <string_view>

namespace lyap {

// The program's 8-bit text as UTF-16.
std::wstring wide_from_cp1252(std::string_view text);
// UTF-16 as the program's 8-bit text; characters outside Windows-1252 become '?'.
std::string cp1252_from_wide(std::wstring_view text);

// A file name between the program (ANSI code page) and the system (UTF-16).
std::wstring wide_path(std::string_view path);
std::string narrow_path(std::wstring_view path);

// The system's words for a Win32 error code, without the closing period and line break, as the
// program's 8-bit text. Sharing and lock violations read "in use by another program", as on
// Linux.
std::string system_reason(unsigned long error);

}  // namespace lyap
