#include "report/text_out.hpp"

#include "report/number_format.hpp"

namespace lyap {

void write_text(TextOut& out, std::string_view text) {
  out.bytes.append(text);
  out.column += static_cast<int>(text.size());
}

void write_number(TextOut& out, long double value) {
  write_text(out, number_text(value));
}

void write_zone(TextOut& out) {
  write_text(out, std::string(14 - out.column % 14, ' '));
}

void write_line_end(TextOut& out) {
  out.bytes.append("\r\n");
  out.column = 0;
}

}  // namespace lyap
