// The headless stand-in of the window layer (see window.h): no window, no
// GL, no waiting. It reports a desktop of its own (1280 x 1024 at 32 bits
// unless a test sets another) that offers that mode, 800 x 600 and
// 1024 x 768, and "applies" a mode by remembering it. The only input is
// what plat_win_inject queues.
#include <string>

#include "platform/window.h"
#include "platform/window_backend.h"

namespace {

plat_display_mode g_desktop{1280, 1024, 32};
bool g_create_fails = false;

class headless_backend final : public plat_window_backend {
 public:
  bool video_init() override { return true; }
  void video_quit() override {}

  bool current_mode(plat_display_mode* out) override {
    *out = mode_set_ ? mode_ : g_desktop;
    return true;
  }
  bool enum_mode(int index, plat_display_mode* out) override {
    const plat_display_mode modes[3] = {g_desktop, {800, 600, 32}, {1024, 768, 32}};
    if (index < 0 || index >= 3) return false;
    *out = modes[index];
    return true;
  }
  bool set_mode(const plat_display_mode& mode) override {
    mode_ = mode;
    mode_set_ = true;
    return true;
  }
  void restore_mode() override { mode_set_ = false; }
  bool mode_in_effect(plat_display_mode* out) override {
    if (!mode_set_) return false;
    *out = mode_;
    return true;
  }

  bool create(const char*, int, int, int w, int h, bool, int, std::string* error) override {
    if (g_create_fails) {
      if (error) *error = "window creation refused (headless test setting)";
      return false;
    }
    client_w_ = w;
    client_h_ = h;
    return true;
  }
  void destroy() override { client_w_ = client_h_ = 0; }
  bool exists() override { return client_w_ > 0; }
  // Non-null stand-ins while the "window" exists.
  void* handle() override { return exists() ? &handle_ : nullptr; }
  void* context() override { return exists() ? &context_ : nullptr; }
  bool vsync_off() override { return true; }
  void swap() override {}
  bool present_rect(int, int, int, int) override { return false; }
  void client_size(int* w, int* h) override {
    *w = client_w_;
    *h = client_h_;
  }
  void client_pos(int* x, int* y) override { *x = *y = 0; }

  bool poll(plat_event*) override { return false; }
  bool wait(int) override { return false; }
  void show_pointer(bool) override {}

 private:
  plat_display_mode mode_{};  // the mode "applied" by set_mode
  bool mode_set_ = false;
  int client_w_ = 0, client_h_ = 0;
  int handle_ = 0, context_ = 0;
};

}  // namespace

plat_window_backend& plat_headless_backend() {
  static headless_backend backend;
  return backend;
}

void plat_win_set_headless_desktop(int w, int h) {
  g_desktop = {w, h, 32};
}

void plat_win_set_headless_create_fails(bool on) {
  g_create_fails = on;
}
