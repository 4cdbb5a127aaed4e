#include "platform/shown_text.hpp"

namespace lyap {

namespace {

void append_escaped(std::string& out, unsigned char byte) {
  static constexpr char named[] = "abtnvfr";  // \a (7) .. \r (13)
  out += '\\';
  if (byte >= '\a' && byte <= '\r') {
    out += named[byte - '\a'];
    return;
  }
  out += static_cast<char>('0' + (byte >> 6));
  out += static_cast<char>('0' + ((byte >> 3) & 7));
  out += static_cast<char>('0' + (byte & 7));
}

bool in(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when there is none: a
// stray continuation byte, an overlong form, a surrogate, a code point past U+10FFFF or a cut
// sequence. A terminal may read any of those as something else, a C1 control among them.
std::size_t utf8_length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (in(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (in(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (in(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || !in(at(1), low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!in(at(i), 0x80, 0xBF)) return 0;
  }
  return length;
}

}  // namespace

std::string shown_text(std::string_view text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      append_escaped(out, byte);
      ++i;
    } else if (byte < 0x80 || (!utf8 && byte >= 0xA0)) {
      out += text[i];
      ++i;
    } else if (!utf8) {
      append_escaped(out, byte);
      ++i;
    } else {
      const std::size_t length = utf8_length(text.substr(i));
      // U+0080..U+009F are 0xC2 0x80..0xC2 0x9F.
      const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
      if (length == 0 || c1) {
        const std::size_t end = i + (length == 0 ? 1 : length);
        for (; i < end; ++i) append_escaped(out, static_cast<unsigned char>(text[i]));
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
    }
  }
  return out;
}

std::string shown_text(std::string_view text) {
  return shown_text(text, terminal_reads_utf8());
}

}  // namespace lyap
