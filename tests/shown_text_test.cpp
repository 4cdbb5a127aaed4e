#include "platform/shown_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ShownText, ControlCharactersAreEscapedAndNothingElse) {
  struct Case {
    const char* what;
    std::string text;
    std::string in_utf8;
    std::string in_bytes;
  };
  const Case cases[] = {
      {"plain", "lyapsearch.state", "lyapsearch.state", "lyapsearch.state"},
      {"C0 with names of their own", "\a\b\t\n\v\f\r", "\\a\\b\\t\\n\\v\\f\\r",
       "\\a\\b\\t\\n\\v\\f\\r"},
      {"other C0, and DEL", std::string("\0\x1b\x1f\x7f", 4), "\\000\\033\\037\\177",
       "\\000\\033\\037\\177"},
      {"a backslash stays", "C:\\dir\\x", "C:\\dir\\x", "C:\\dir\\x"},
      {"C1 as UTF-8", "\xc2\x80\xc2\x9b\xc2\x9c\xc2\x9f",
       "\\302\\200\\302\\233\\302\\234\\302\\237", "\xc2\\200\xc2\\233\xc2\\234\xc2\\237"},
      {"just past C1", "\xc2\xa0\xc3\xbf", "\xc2\xa0\xc3\xbf", "\xc2\xa0\xc3\xbf"},
      {"raw C1 bytes", "a\x9b\x9c", "a\\233\\234", "a\\233\\234"},
      {"three and four bytes", "\xe2\x82\xac\xf0\x9f\x98\x80", "\xe2\x82\xac\xf0\x9f\x98\x80",
       "\xe2\\202\xac\xf0\\237\\230\\200"},
      // Not well-formed UTF-8: an overlong ESC, a surrogate, past U+10FFFF, a cut sequence.
      {"overlong", "\xc0\x9b", "\\300\\233", "\xc0\\233"},
      {"surrogate", "\xed\xa0\x80", "\\355\\240\\200", "\xed\xa0\\200"},
      {"past the last code point", "\xf4\x90\x80\x80", "\\364\\220\\200\\200",
       "\xf4\\220\\200\\200"},
      {"cut at the end", "x\xe2\x82", "x\\342\\202", "x\xe2\\202"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lyap::shown_text(c.text, true), c.in_utf8) << c.what;
    EXPECT_EQ(lyap::shown_text(c.text, false), c.in_bytes) << c.what;
  }
}

}  // namespace
