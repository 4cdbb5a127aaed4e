// Building the 8-bit text of one file write. Items are appended in program order and written
// to the file at once, so an interrupted run never leaves half a record.
#pragma once

#include <string>
#include <string_view>

namespace lyap {

struct TextOut {
  std::string bytes;
  int column = 0;  // characters since the last line end
};

void write_text(TextOut& out, std::string_view text);
void write_number(TextOut& out, long double value);  // number_text of the value
void write_zone(TextOut& out);                       // spaces up to the next multiple of 14
void write_line_end(TextOut& out);                   // CR LF

}  // namespace lyap
