// The null window backend: no display, so no window. The canvas still draws and saves.
#include "platform/window.hpp"

namespace lyap {

std::unique_ptr<Window> create_window(std::string_view, int, int) {
  return nullptr;
}

}  // namespace lyap
