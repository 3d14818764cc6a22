#pragma once
// The implementations behind platform/window.h. window.cpp picks one on first
// use (or when plat_win_set_headless asks) and forwards every call to it;
// the queue of injected input stays in front of both.
// - SDL2 (window_sdl.cpp with gl_context_sdl.cpp, display_modes_sdl.cpp and
//   keys_sdl.cpp): a real window and GL context;
// - the headless stand-in (window_headless.cpp): no window, no GL, no
//   waiting, a make-believe desktop.
#include <string>

#include "platform/window.h"

class plat_window_backend {
 public:
  virtual ~plat_window_backend() = default;

  virtual bool video_init() = 0;
  virtual void video_quit() = 0;

  virtual bool current_mode(plat_display_mode* out) = 0;
  virtual bool enum_mode(int index, plat_display_mode* out) = 0;
  virtual bool set_mode(const plat_display_mode& mode) = 0;
  virtual void restore_mode() = 0;
  virtual bool mode_in_effect(plat_display_mode* out) = 0;

  virtual bool create(const char* title, int x, int y, int w, int h, bool captioned, int colour_bits,
                      std::string* error) = 0;
  virtual void destroy() = 0;
  virtual bool exists() = 0;
  virtual void* handle() = 0;
  virtual void* context() = 0;
  virtual bool vsync_off() = 0;
  virtual void swap() = 0;
  virtual bool present_rect(int x, int y, int w, int h) = 0;
  virtual void client_size(int* w, int* h) = 0;
  virtual void client_pos(int* x, int* y) = 0;

  // The implementation's own input (the injected queue comes first).
  virtual bool poll(plat_event* ev) = 0;
  virtual bool wait(int ms) = 0;
  virtual void show_pointer(bool show) = 0;
};

plat_window_backend& plat_sdl_backend();
plat_window_backend& plat_headless_backend();
