// Stand-in for window classes, hidden windows and their messages. Windows
// live on the thread that runs their MessageLoop; other threads reach a
// window procedure through send_message (which waits for its result) or
// post_message.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_loop.h"

namespace platform {

inline constexpr unsigned kWmCreate = 1;
inline constexpr unsigned kWmDestroy = 2;
inline constexpr unsigned kWmClose = 16;
inline constexpr unsigned kWmPowerBroadcast = 536;

inline constexpr unsigned kWsPopup = 0x80000000u;
inline constexpr unsigned kWsDisabled = 0x08000000u;

struct Window;
using WindowProc = std::intptr_t (*)(Window& window, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t lparam);

struct WindowClass {
  const char* name;
  WindowProc procedure;
  int background;    // a system colour index plus 1
  int window_extra;  // bytes kept with each window
  int class_extra;
  unsigned style;
};

struct Window {
  const WindowClass* window_class;
  std::string title;
  unsigned style;
  int x, y, width, height;
  // The window's extra bytes; the creation parameter is kept in the first
  // pointer-sized ones when there is room.
  std::vector<unsigned char> extra;
  bool destroyed = false;
  class Windows* owner = nullptr;
};

// The creation parameter kept in the window's extra bytes (null if none).
void* window_param(const Window& window);

// The window classes and windows of one process, on one message loop.
class Windows {
 public:
  explicit Windows(MessageLoop& loop) : loop_(loop) {}
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  // False when the name is empty or already registered.
  bool register_class(const WindowClass& window_class);
  // Null when the class is not registered. Calls the procedure with
  // WM_CREATE before returning.
  Window* create_window(const char* class_name, const char* title, unsigned style, int x, int y,
                        int width, int height, void* param);
  // Calls the procedure with WM_DESTROY; the window takes no more messages.
  bool destroy_window(Window* window);

  // Runs the window procedure on the calling thread (as the loop does); 0
  // when the window is destroyed.
  std::intptr_t dispatch(Window* window, unsigned message, std::uintptr_t wparam,
                         std::intptr_t lparam);
  // From another thread: runs the window procedure on the loop's thread and
  // waits for its result; 0 when the loop has quit or the window is gone.
  std::intptr_t send_message(Window* window, unsigned message, std::uintptr_t wparam,
                             std::intptr_t lparam);
  bool post_message(Window* window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
  MessageLoop& loop() { return loop_; }

 private:
  MessageLoop& loop_;
  std::mutex mutex_;
  std::vector<WindowClass> classes_;
  std::list<Window> windows_;
};

// The handling of messages a window procedure leaves alone: WM_CLOSE
// destroys the window, anything else gives 0.
std::intptr_t default_window_proc(Window& window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);

}  // namespace platform
