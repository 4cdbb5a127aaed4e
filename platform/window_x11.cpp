// X11 window backend (being written; no window yet).
#include "platform/window.hpp"

namespace lyap {

std::unique_ptr<Window> create_window(std::string_view, int, int) {
  return nullptr;
}

}  // namespace lyap
