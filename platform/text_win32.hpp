// Text at the edges of the Win32 API, shared by the Windows backends. The program's own text is
// 8-bit Windows-1252. The system's text (file and folder names, the system's messages) travels
// through the program as UTF-8, so that every name Windows can give survives the trip.
#pragma once

#include <string>
#include <string_view>

namespace lyap {

// The program's 8-bit text as UTF-16.
std::wstring wide_from_cp1252(std::string_view text);
// UTF-16 as the program's 8-bit text; characters outside Windows-1252 become '?'.
std::string cp1252_from_wide(std::wstring_view text);

// The system's text between the program (UTF-8) and the system (UTF-16).
std::wstring wide_path(std::string_view path);
std::string narrow_path(std::wstring_view path);

// The system's words for a Win32 error code, without the closing period and line break, as
// UTF-8. Sharing and lock violations read "in use by another program", as on Linux.
std::string system_reason(unsigned long error);

}  // namespace lyap
