// FreeType font backend (being written; no fonts yet).
#include "platform/font.hpp"

namespace lyap {

std::unique_ptr<Font> load_font(std::string_view, int, bool) {
  return nullptr;
}

}  // namespace lyap
