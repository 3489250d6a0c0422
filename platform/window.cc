#include "platform/window.h"

#include <cstring>
#include <future>

namespace platform {

void* window_param(const Window& window) {
  void* param = nullptr;
  if (window.extra.size() >= sizeof param) std::memcpy(&param, window.extra.data(), sizeof param);
  return param;
}

bool Windows::register_class(const WindowClass& window_class) {
  if (window_class.name == nullptr || *window_class.name == '\0') return false;
  if (window_class.procedure == nullptr || window_class.window_extra < 0) return false;
  std::lock_guard lock(mutex_);
  for (const WindowClass& c : classes_) {
    if (std::strcmp(c.name, window_class.name) == 0) return false;
  }
  classes_.push_back(window_class);
  return true;
}

Window* Windows::create_window(const char* class_name, const char* title, unsigned style, int x,
                               int y, int width, int height, void* param) {
  Window* window = nullptr;
  {
    std::lock_guard lock(mutex_);
    for (const WindowClass& c : classes_) {
      if (class_name == nullptr || std::strcmp(c.name, class_name) != 0) continue;
      windows_.push_back(Window{&c, title != nullptr ? title : "", style, x, y, width, height,
                                std::vector<unsigned char>(c.window_extra), false, this});
      window = &windows_.back();
      break;
    }
  }
  if (window == nullptr) return nullptr;
  if (window->extra.size() >= sizeof param) std::memcpy(window->extra.data(), &param, sizeof param);
  dispatch(window, kWmCreate, 0, 0);
  return window;
}

bool Windows::destroy_window(Window* window) {
  if (window == nullptr || window->destroyed) return false;
  dispatch(window, kWmDestroy, 0, 0);
  window->destroyed = true;
  return true;
}

std::intptr_t Windows::dispatch(Window* window, unsigned message, std::uintptr_t wparam,
                                std::intptr_t lparam) {
  if (window == nullptr || window->destroyed) return 0;
  return window->window_class->procedure(*window, message, wparam, lparam);
}

std::intptr_t Windows::send_message(Window* window, unsigned message, std::uintptr_t wparam,
                                    std::intptr_t lparam) {
  auto result = std::make_shared<std::promise<std::intptr_t>>();
  std::future<std::intptr_t> answer = result->get_future();
  bool queued = loop_.post([this, result, window, message, wparam, lparam] {
    result->set_value(dispatch(window, message, wparam, lparam));
  });
  if (!queued) return 0;
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return 0;  // the loop quit before it got to the message
  }
}

bool Windows::post_message(Window* window, unsigned message, std::uintptr_t wparam,
                           std::intptr_t lparam) {
  return loop_.post(
      [this, window, message, wparam, lparam] { dispatch(window, message, wparam, lparam); });
}

std::intptr_t default_window_proc(Window& window, unsigned message, std::uintptr_t, std::intptr_t) {
  if (message == kWmClose && window.owner != nullptr) window.owner->destroy_window(&window);
  return 0;
}

}  // namespace platform
