// Windows window backend. The window belongs to a user-interface thread of its own, which runs
// its message loop for the life of the window: it repaints from its copy of the last frame
// whenever Windows asks, and puts up each new frame that present() hands over, while the search
// thread computes on undisturbed.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/text_win32.hpp"
#include "platform/window_win32.hpp"

namespace lyap {

namespace {

// What the window shows before the first frame: the fresh canvas's dialog-face grey.
constexpr std::int32_t initial_colour = 240 + 256 * 240 + 65536 * 240;
constexpr wchar_t class_name[] = L"lyapsearch picture";
// Sent to the window: show the frame handed over. Then: go.
constexpr UINT msg_present = WM_APP + 1;
constexpr UINT msg_close = WM_APP + 2;
constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

class Win32Window final : public Window {
 public:
  Win32Window(int width, int height)
      : width_(width),
        height_(height),
        front_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), initial_colour),
        shown_pixels_(front_.size()) {
    convert_front();
  }

  ~Win32Window() override {
    if (!ui_.joinable()) return;
    HWND window = nullptr;
    {
      std::lock_guard lock(mutex_);
      window = window_;
    }
    if (window != nullptr) PostMessageW(window, msg_close, 0, 0);
    ui_.join();
  }

  // Starts the user-interface thread and returns once it has made the window, or failed to.
  bool open(std::wstring title) {
    ui_ = std::thread([this, title = std::move(title)] { run(title); });
    std::unique_lock lock(mutex_);
    created_.wait(lock, [&] { return window_ != nullptr || ui_done_; });
    return window_ != nullptr;
  }

  void present(const std::int32_t* pixels) override {
    std::unique_lock lock(mutex_);
    if (ui_done_ || window_ == nullptr) return;
    std::copy(pixels, pixels + front_.size(), front_.begin());
    const std::uint64_t frame = ++requested_;
    if (!PostMessageW(window_, msg_present, 0, 0)) return;
    shown_.wait(lock, [&] { return shown_frame_ >= frame || ui_done_; });
  }

  HWND handle() const {
    std::lock_guard lock(mutex_);
    return window_;
  }

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT handle(HWND window, UINT message, WPARAM w, LPARAM l);
  void run(const std::wstring& title);
  void convert_front();
  void paint(HDC dc);

  const int width_;
  const int height_;
  BITMAPINFO bitmap_info_{};

  std::thread ui_;
  mutable std::mutex mutex_;
  std::condition_variable created_;
  std::condition_variable shown_;
  HWND window_ = nullptr;            // guarded by mutex_
  std::vector<std::int32_t> front_;  // guarded: the last frame handed over
  std::uint64_t requested_ = 0;      // guarded: frames handed over
  std::uint64_t shown_frame_ = 0;    // guarded: the last frame put on the screen
  bool ui_done_ = false;             // guarded: the user-interface thread has ended
  // The user-interface thread's own: the last frame as device-independent bits.
  std::vector<std::uint32_t> shown_pixels_;
};

// The frame handed over as 32-bit blue-green-red pixels. Called under mutex_.
void Win32Window::convert_front() {
  for (std::size_t i = 0; i < front_.size(); ++i) {
    const auto c = static_cast<std::uint32_t>(front_[i]);
    shown_pixels_[i] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  }
}

void Win32Window::paint(HDC dc) {
  SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width_), static_cast<DWORD>(height_), 0, 0, 0,
                    static_cast<UINT>(height_), shown_pixels_.data(), &bitmap_info_,
                    DIB_RGB_COLORS);
}

LRESULT CALLBACK Win32Window::window_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, w, l);
  return self->handle(window, message, w, l);
}

LRESULT Win32Window::handle(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (HDC dc = BeginPaint(window, &ps)) {
        paint(dc);
        EndPaint(window, &ps);
      }
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the frame covers every pixel
    case msg_present: {
      std::uint64_t frame = 0;
      {
        std::lock_guard lock(mutex_);
        convert_front();
        frame = requested_;
      }
      // Painted here and now, not when the queue next runs dry; a minimised window has
      // nothing to paint and is done at once.
      if (HDC dc = GetDC(window)) {
        paint(dc);
        ReleaseDC(window, dc);
      }
      GdiFlush();
      ValidateRect(window, nullptr);
      {
        std::lock_guard lock(mutex_);
        shown_frame_ = std::max(shown_frame_, frame);
      }
      shown_.notify_all();
      return 0;
    }
    case WM_CLOSE:
      return 0;  // the window lives as long as the search
    case msg_close:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, w, l);
  }
}

void Win32Window::run(const std::wstring& title) {
  bitmap_info_.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bitmap_info_.bmiHeader.biWidth = width_;
  bitmap_info_.bmiHeader.biHeight = -height_;  // rows top first
  bitmap_info_.bmiHeader.biPlanes = 1;
  bitmap_info_.bmiHeader.biBitCount = 32;
  bitmap_info_.bmiHeader.biCompression = BI_RGB;

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  window_class.lpszClassName = class_name;
  // A second window finds the class registered already.
  const bool registered =
      RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;

  // The frame is added outside the client area, which is exactly the canvas.
  RECT outer{0, 0, width_, height_};
  AdjustWindowRectEx(&outer, style, FALSE, 0);
  HWND window = registered ? CreateWindowExW(0, class_name, title.c_str(), style, 0, 0,
                                             outer.right - outer.left, outer.bottom - outer.top,
                                             nullptr, nullptr, instance, this)
                           : nullptr;
  if (window != nullptr) {
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
  }
  {
    std::lock_guard lock(mutex_);
    window_ = window;
    ui_done_ = window == nullptr;
  }
  created_.notify_all();
  if (window == nullptr) return;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
    ui_done_ = true;
  }
  shown_.notify_all();
}

}  // namespace

std::unique_ptr<Window> create_window(std::string_view title, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto window = std::make_unique<Win32Window>(width, height);
  if (!window->open(wide_from_cp1252(title))) return nullptr;
  return window;
}

void* win32_window_handle(const Window& window) {
  const auto* win32 = dynamic_cast<const Win32Window*>(&window);
  return win32 != nullptr ? win32->handle() : nullptr;
}

}  // namespace lyap
