// The null font backend: no fonts, so text is skipped and measures 0.
#include "platform/font.hpp"

namespace lyap {

std::unique_ptr<Font> load_font(std::string_view, int, bool) {
  return nullptr;
}

}  // namespace lyap
