// X11 window backend. Once the window exists, only its user-interface thread talks to the X
// server: it repaints exposed parts from its own image of the last frame and puts up each new
// frame that present() hands over, while the search thread computes on undisturbed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_x11.hpp"

namespace lyap {

namespace {

// What the window shows before the first frame: the fresh canvas's dialog-face grey.
constexpr std::int32_t initial_colour = 240 + 256 * 240 + 65536 * 240;
// How long creation waits for the window manager to map the window.
constexpr auto map_timeout = std::chrono::seconds(5);

// Window operations report nothing: a request the server refuses on one of our connections must
// not end the run, as Xlib's default handler would. Errors on any other connection go to the
// handler that was there before.
std::mutex quiet_mutex;
std::vector<Display*> quiet_displays;  // guarded by quiet_mutex
XErrorHandler other_errors = nullptr;  // set once, before any window exists

int on_x_error(Display* display, XErrorEvent* event) {
  {
    std::lock_guard lock(quiet_mutex);
    if (std::find(quiet_displays.begin(), quiet_displays.end(), display) != quiet_displays.end()) {
      return 0;
    }
  }
  return other_errors != nullptr ? other_errors(display, event) : 0;
}

void set_quiet(Display* display, bool quiet) {
  std::lock_guard lock(quiet_mutex);
  if (quiet) {
    quiet_displays.push_back(display);
  } else {
    std::erase(quiet_displays, display);
  }
}

// Where one 8-bit colour component goes in a pixel of the visual.
struct Channel {
  int shift = 0;
  int bits = 0;
};

Channel channel_of(unsigned long mask) {
  if (mask == 0) return {};
  return {std::countr_zero(mask), std::popcount(mask)};
}

unsigned long place(Channel ch, unsigned long v) {
  const unsigned long scaled = ch.bits >= 8 ? v << (ch.bits - 8) : v >> (8 - ch.bits);
  return scaled << ch.shift;
}

// The top-level window (child of the root) containing `id`, and the window manager's client
// window on the way up (the one with WM_STATE), or `id` itself when none is found. False when
// `id` is not a window.
bool find_ancestors(Display* display, ::Window id, ::Window& top, ::Window& client) {
  const Atom wm_state = XInternAtom(display, "WM_STATE", False);
  client = 0;
  ::Window current = id;
  for (int depth = 0; depth < 64; ++depth) {
    if (client == 0) {
      Atom type = None;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(display, current, wm_state, 0, 0, False, AnyPropertyType, &type,
                             &format, &count, &after, &data) == Success &&
          type != None) {
        client = current;
      }
      if (data != nullptr) XFree(data);
    }
    ::Window root = 0, parent = 0;
    ::Window* children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display, current, &root, &parent, &children, &n) == 0) return false;
    if (children != nullptr) XFree(children);
    if (parent == root || parent == 0) {
      top = current;
      if (client == 0) client = id;
      return true;
    }
    current = parent;
  }
  return false;
}

// Hands the keyboard back to the terminal the program was started from, when the terminal
// says which window it is, so that key presses keep reaching the console.
void focus_terminal(Display* display) {
  const char* text = std::getenv("WINDOWID");
  if (text == nullptr || *text == '\0') return;
  char* end = nullptr;
  const unsigned long id = std::strtoul(text, &end, 0);
  if (*end != '\0' || id == 0) return;
  ::Window top = 0, client = 0;
  if (!find_ancestors(display, id, top, client)) return;
  // A window manager activates the windows it manages on request; without one, raising and
  // focusing the terminal directly does it.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = client;
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // a request on the user's behalf
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XRaiseWindow(display, top);
  XSetInputFocus(display, id, RevertToPointerRoot, CurrentTime);
  XSync(display, False);
}

class X11Window final : public Window {
 public:
  X11Window(int width, int height)
      : width_(width),
        height_(height),
        front_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), initial_colour) {
  }

  ~X11Window() override {
    if (ui_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        stopping_ = true;
      }
      wake();
      ui_.join();
    } else {
      close_display();
    }
    if (wake_fd_ >= 0) ::close(wake_fd_);
  }

  // Creates and maps the window on the calling thread, then starts the user-interface thread.
  bool open(std::string_view title);

  void present(const std::int32_t* pixels) override {
    std::unique_lock lock(mutex_);
    if (ui_done_) return;
    std::copy(pixels, pixels + front_.size(), front_.begin());
    const std::uint64_t frame = ++requested_;
    wake();
    shown_.wait(lock, [&] { return shown_frame_ >= frame || ui_done_; });
  }

  ::Window id() const { return window_; }

 private:
  void wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }
  void run();
  void handle(const XEvent& event);
  void convert_front();
  void close_display();

  const int width_;
  const int height_;
  int wake_fd_ = -1;

  // Owned by the user-interface thread once it runs.
  Display* display_ = nullptr;
  ::Window window_ = 0;
  Colormap colormap_ = 0;
  GC gc_ = nullptr;
  XImage* image_ = nullptr;
  std::vector<char> image_data_;  // the last frame in the visual's pixel format
  Channel red_, green_, blue_;
  Atom wm_delete_ = 0;

  std::thread ui_;
  std::mutex mutex_;
  std::condition_variable shown_;
  std::vector<std::int32_t> front_;  // guarded by mutex_: the last frame handed over
  std::uint64_t requested_ = 0;      // guarded: frames handed over
  std::uint64_t shown_frame_ = 0;    // guarded: the last frame put on the screen
  bool stopping_ = false;            // guarded
  bool ui_done_ = false;             // guarded: the user-interface thread has ended
};

bool X11Window::open(std::string_view title) {
  XInitThreads();
  static std::once_flag handler_once;
  std::call_once(handler_once, [] { other_errors = XSetErrorHandler(on_x_error); });

  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) return false;
  set_quiet(display_, true);
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) return false;

  const int screen = DefaultScreen(display_);
  const ::Window root = RootWindow(display_, screen);
  Visual* visual = DefaultVisual(display_, screen);
  int depth = DefaultDepth(display_, screen);
  XVisualInfo info{};
  if (visual->c_class != TrueColor || depth < 15) {
    if (XMatchVisualInfo(display_, screen, 24, TrueColor, &info) == 0) return false;
    visual = info.visual;
    depth = info.depth;
  }
  colormap_ = XCreateColormap(display_, root, visual, AllocNone);
  red_ = channel_of(visual->red_mask);
  green_ = channel_of(visual->green_mask);
  blue_ = channel_of(visual->blue_mask);

  XSetWindowAttributes attributes{};
  attributes.background_pixel = place(red_, initial_colour & 0xFF) |
                                place(green_, (initial_colour >> 8) & 0xFF) |
                                place(blue_, (initial_colour >> 16) & 0xFF);
  attributes.border_pixel = 0;
  attributes.colormap = colormap_;
  attributes.event_mask = ExposureMask | StructureNotifyMask;
  window_ = XCreateWindow(display_, root, 0, 0, static_cast<unsigned>(width_),
                          static_cast<unsigned>(height_), 0, depth, InputOutput, visual,
                          CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
  if (window_ == 0) return false;

  const std::string name(title);
  XStoreName(display_, window_, name.c_str());
  XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_NAME", False),
                  XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(name.data()),
                  static_cast<int>(name.size()));
  std::string res_name = name, res_class = name;
  XClassHint class_hint{res_name.data(), res_class.data()};
  XSetClassHint(display_, window_, &class_hint);
  if (XSizeHints* hints = XAllocSizeHints()) {
    // min = max: a window manager that honours the hints offers no resizing.
    hints->flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
    hints->x = hints->y = 0;
    hints->width = hints->min_width = hints->max_width = width_;
    hints->height = hints->min_height = hints->max_height = height_;
    XSetWMNormalHints(display_, window_, hints);
    XFree(hints);
  }
  wm_delete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display_, window_, &wm_delete_, 1);

  gc_ = XCreateGC(display_, window_, 0, nullptr);
  image_ = XCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                        static_cast<unsigned>(width_), static_cast<unsigned>(height_), 32, 0);
  if (gc_ == nullptr || image_ == nullptr) return false;
  image_data_.assign(
      static_cast<std::size_t>(image_->bytes_per_line) * static_cast<std::size_t>(height_), 0);
  image_->data = image_data_.data();
  convert_front();

  // Creation returns once the window is on the screen, so the first frame is not lost.
  XMapRaised(display_, window_);
  XFlush(display_);
  const auto deadline = std::chrono::steady_clock::now() + map_timeout;
  XEvent event;
  while (XCheckTypedWindowEvent(display_, window_, MapNotify, &event) == False) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fd{ConnectionNumber(display_), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
  }
  focus_terminal(display_);

  ui_ = std::thread([this] { run(); });
  return true;
}

// The frame handed over, in the visual's pixel format. Called under mutex_.
void X11Window::convert_front() {
  const bool direct =
      image_->bits_per_pixel == 32 &&
      image_->byte_order == (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
  for (int y = 0; y < height_; ++y) {
    const std::int32_t* row = front_.data() + static_cast<std::size_t>(y) * width_;
    char* out = image_data_.data() + static_cast<std::size_t>(y) * image_->bytes_per_line;
    for (int x = 0; x < width_; ++x) {
      const auto c = static_cast<unsigned long>(row[x]);
      const unsigned long pixel =
          place(red_, c & 0xFF) | place(green_, (c >> 8) & 0xFF) | place(blue_, (c >> 16) & 0xFF);
      if (direct) {
        const auto word = static_cast<std::uint32_t>(pixel);
        std::memcpy(out + 4 * x, &word, 4);
      } else {
        XPutPixel(image_, x, y, pixel);
      }
    }
  }
}

void X11Window::handle(const XEvent& event) {
  switch (event.type) {
    case Expose:
      XPutImage(display_, window_, gc_, image_, event.xexpose.x, event.xexpose.y, event.xexpose.x,
                event.xexpose.y, static_cast<unsigned>(event.xexpose.width),
                static_cast<unsigned>(event.xexpose.height));
      break;
    case ClientMessage:
      // A close request is ignored: the window lives as long as the search.
      break;
    default:
      break;
  }
}

void X11Window::run() {
  for (;;) {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      handle(event);
    }
    std::uint64_t frame = 0;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      if (requested_ > shown_frame_) {
        convert_front();
        frame = requested_;
      }
    }
    if (frame != 0) {
      XPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, static_cast<unsigned>(width_),
                static_cast<unsigned>(height_));
      XSync(display_, False);  // the server has drawn it before present() returns
      {
        std::lock_guard lock(mutex_);
        shown_frame_ = frame;
      }
      shown_.notify_all();
      continue;  // XSync may have queued events
    }
    XFlush(display_);
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if ((fds[1].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
    }
  }
  close_display();
  {
    std::lock_guard lock(mutex_);
    ui_done_ = true;
  }
  shown_.notify_all();
}

void X11Window::close_display() {
  if (display_ == nullptr) return;
  if (image_ != nullptr) {
    image_->data = nullptr;  // the pixels belong to image_data_
    XDestroyImage(image_);
    image_ = nullptr;
  }
  if (gc_ != nullptr) XFreeGC(display_, gc_);
  if (window_ != 0) XDestroyWindow(display_, window_);
  if (colormap_ != 0) XFreeColormap(display_, colormap_);
  XCloseDisplay(display_);
  set_quiet(display_, false);
  display_ = nullptr;
}

}  // namespace

std::unique_ptr<Window> create_window(std::string_view title, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto window = std::make_unique<X11Window>(width, height);
  if (!window->open(title)) return nullptr;
  return window;
}

unsigned long x11_window_id(const Window& window) {
  const auto* x11 = dynamic_cast<const X11Window*>(&window);
  return x11 != nullptr ? x11->id() : 0;
}

}  // namespace lyap
