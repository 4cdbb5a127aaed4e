// The terminal emulator's window under X11. Each call opens a connection of its own and
// closes it again: it runs a couple of times per run, on the main thread, while the graphics
// window keeps its own connection on the UI thread.
#include <X11/Xlib.h>
#include <errno.h>
#include <stdlib.h>

#include <atomic>

#include "platform/terminal_window.hpp"

namespace lyap {

namespace {

// Xlib's default error handler ends the process, and a terminal window that has gone away or a
// request the server refuses is no reason for that. Errors on our own short-lived connection
// are swallowed; any other connection's go to whichever handler was there before.
std::atomic<Display*> g_quiet_display{nullptr};
std::atomic<XErrorHandler> g_other_errors{nullptr};

int on_x_error(Display* display, XErrorEvent* event) {
  if (display == g_quiet_display.load()) return 0;
  const XErrorHandler other = g_other_errors.load();
  return other != nullptr ? other(display, event) : 0;
}

// The terminal's window as named by WINDOWID, on a fresh connection; empty when there is none.
class TerminalWindow {
 public:
  TerminalWindow() {
    const char* text = ::getenv("WINDOWID");
    if (text == nullptr || *text == '\0') return;
    char* end = nullptr;
    errno = 0;
    const unsigned long id = ::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || id == 0) return;

    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return;
    g_quiet_display = display_;
    g_other_errors = XSetErrorHandler(on_x_error);
    window_ = static_cast<Window>(id);
  }

  ~TerminalWindow() {
    if (display_ == nullptr) return;
    XCloseDisplay(display_);  // flushes our requests; their errors still land in on_x_error
    XSetErrorHandler(g_other_errors.load());
    g_quiet_display = nullptr;
  }

  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  Display* display() const { return display_; }

  // The window that a window manager places: the ancestor that carries WM_STATE, or, with no
  // window manager, the ancestor just below the root. WINDOWID itself is often an inner
  // widget (xterm names its text area), and moving that would shift it inside its own frame.
  // Requests on the client's top level also reach a reparenting window manager, which then
  // moves its frame with it. None when the window does not exist.
  Window top_level() const {
    if (display_ == nullptr) return None;
    const Atom wm_state = XInternAtom(display_, "WM_STATE", True);
    Window current = window_;
    for (int depth = 0; depth < 64; ++depth) {
      if (wm_state != None && has_property(current, wm_state)) return current;
      Window root = None;
      Window parent = None;
      Window* children = nullptr;
      unsigned int count = 0;
      if (XQueryTree(display_, current, &root, &parent, &children, &count) == 0) return None;
      if (children != nullptr) XFree(children);
      if (parent == root || parent == None) return current;
      current = parent;
    }
    return None;
  }

 private:
  bool has_property(Window window, Atom property) const {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display_, window, property, 0, 0, False, AnyPropertyType,
                                          &type, &format, &items, &remaining, &data);
    if (data != nullptr) XFree(data);
    return status == Success && type != None;
  }

  Display* display_ = nullptr;
  Window window_ = None;
};

}  // namespace

void move_terminal_window(int x, int y) {
  const TerminalWindow terminal;
  const Window target = terminal.top_level();
  if (target == None) return;
  XMoveWindow(terminal.display(), target, x, y);
}

void raise_terminal_window() {
  const TerminalWindow terminal;
  const Window target = terminal.top_level();
  if (target == None) return;
  Display* display = terminal.display();

  // Window managers that follow EWMH hand the focus over only when asked through the root
  // window; source 2 (a pager) tells them the user asked for it, so focus-stealing prevention
  // lets it through. Without such a window manager the two direct requests do the job.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = target;
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XRaiseWindow(display, target);
  XSetInputFocus(display, target, RevertToParent, CurrentTime);
}

}  // namespace lyap
