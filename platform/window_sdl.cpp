// The SDL2 implementation of the window layer (see window.h): the video
// subsystem, the window and its input. The GL context, the display modes
// and the key translation it uses are in gl_context_sdl.cpp,
// display_modes_sdl.cpp and keys_sdl.cpp.
#include <SDL.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sdl_video.h"
#include "platform/window.h"
#include "platform/window_backend.h"

namespace {

bool g_video_up = false;
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
int g_client_w = 0, g_client_h = 0;
bool g_pointer_shown = true;

// Turns one SDL event into a pump event; false for events the pump ignores.
bool translate(const SDL_Event& e, plat_event* out) {
  *out = plat_event{};
  switch (e.type) {
    case SDL_QUIT:
      out->type = pev_quit;
      return true;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
        out->type = pev_quit;
        return true;
      }
      if (e.window.event == SDL_WINDOWEVENT_EXPOSED) {
        out->type = pev_expose;
        return true;
      }
      return false;
    case SDL_MOUSEMOTION:
      out->type = pev_mouse_move;
      out->x = e.motion.x;
      out->y = e.motion.y;
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      out->type = e.type == SDL_MOUSEBUTTONDOWN ? pev_mouse_down : pev_mouse_up;
      out->button = e.button.button == SDL_BUTTON_LEFT ? 1 : e.button.button == SDL_BUTTON_RIGHT ? 3 : 2;
      out->x = e.button.x;
      out->y = e.button.y;
      return true;
    case SDL_MOUSEWHEEL:
      out->type = pev_wheel;
      out->wheel = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      return out->wheel != 0;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      out->type = e.type == SDL_KEYDOWN ? pev_key_down : pev_key_up;
      out->key = sdl_video::translate_key(e.key);
      return true;
    default:
      return false;
  }
}

class sdl_backend final : public plat_window_backend {
 public:
  bool video_init() override { return sdl_video::init(); }

  void video_quit() override {
    if (!g_video_up) return;
    destroy();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_video_up = false;
    sdl_video::forget_mode();
  }

  bool current_mode(plat_display_mode* out) override { return sdl_video::current_mode(out); }
  bool enum_mode(int index, plat_display_mode* out) override { return sdl_video::enum_mode(index, out); }
  bool set_mode(const plat_display_mode& mode) override { return sdl_video::set_mode(mode); }
  void restore_mode() override { sdl_video::restore_mode(); }
  bool mode_in_effect(plat_display_mode* out) override { return sdl_video::mode_in_effect(out); }

  bool create(const char* title, int x, int y, int w, int h, bool captioned, int colour_bits,
              std::string* error) override {
    if (!sdl_video::init()) {
      if (error) *error = SDL_GetError();
      return false;
    }
    destroy();
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (!captioned) flags |= SDL_WINDOW_BORDERLESS;
    SDL_DisplayMode mode;
    const bool full_screen = sdl_video::wanted_mode(&mode);
    if (full_screen) flags |= SDL_WINDOW_FULLSCREEN;
    g_window = sdl_video::create_gl_window(title, x, y, w, h, flags, colour_bits);
    if (!g_window) {
      if (error) *error = SDL_GetError();
      return false;
    }
    if (full_screen) SDL_SetWindowDisplayMode(g_window, &mode);
    g_context = sdl_video::create_context(g_window);
    if (!g_context) {
      if (error) *error = SDL_GetError();
      destroy();
      return false;
    }
    // Keys arrive as key events; no text-input (IME) machinery is wanted.
    SDL_StopTextInput();
    SDL_GL_GetDrawableSize(g_window, &g_client_w, &g_client_h);
    return true;
  }

  void destroy() override {
    if (g_context) {
      sdl_video::delete_context(g_window, g_context);
      g_context = nullptr;
    }
    if (g_window) {
      SDL_DestroyWindow(g_window);
      g_window = nullptr;
    }
    if (!g_pointer_shown && g_video_up) SDL_ShowCursor(SDL_ENABLE);
    g_pointer_shown = true;
    g_client_w = g_client_h = 0;
  }

  bool exists() override { return g_window != nullptr; }
  void* handle() override { return g_window; }
  void* context() override { return g_context; }
  bool vsync_off() override { return g_context != nullptr && sdl_video::swap_interval_off(); }
  void swap() override {
    if (g_window) sdl_video::swap(g_window);
  }
  bool present_rect(int x, int y, int w, int h) override {
    return g_window != nullptr && sdl_video::present_rect(g_window, x, y, w, h);
  }
  void client_size(int* w, int* h) override {
    *w = g_client_w;
    *h = g_client_h;
  }
  void client_pos(int* x, int* y) override {
    *x = *y = 0;
    if (g_window) SDL_GetWindowPosition(g_window, x, y);
  }

  bool poll(plat_event* ev) override {
    if (!g_video_up) return false;
    SDL_Event e;
    plat_event out;
    while (SDL_PollEvent(&e)) {
      if (translate(e, &out)) {
        *ev = out;
        return true;
      }
    }
    return false;
  }

  bool wait(int ms) override {
    if (!g_video_up) return false;
    return SDL_WaitEventTimeout(nullptr, ms) == 1;
  }

  void show_pointer(bool show) override {
    if (show == g_pointer_shown) return;
    g_pointer_shown = show;
    if (g_video_up) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
  }
};

}  // namespace

plat_window_backend& plat_sdl_backend() {
  static sdl_backend backend;
  return backend;
}

namespace sdl_video {

namespace {
// With no session bus to be found, the D-Bus library SDL's video start-up
// uses forks "dbus-launch --autolaunch" to start one. The installer's
// workers already run by then, and a child forked from a threaded process
// can hang on a lock one of them held (the window never shows); a bus
// started so also outlives the installer. Nothing here needs a session bus
// (no input method; the screen saver is held off through X), so none is
// started. Where a session has a bus, its address or socket is there.
void start_no_session_bus() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && address[0]) return;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0]) {
    struct stat st;
    if (::stat((std::string(runtime) + "/bus").c_str(), &st) == 0) return;
  }
  // An address of no known kind: the library gives up at once.
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}
}  // namespace

bool init() {
  if (g_video_up) return true;
  start_no_session_bus();
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
      !(asked && asked[0])) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_SetError("no display to show the window on (DISPLAY or WAYLAND_DISPLAY is not set or not reachable)");
    return false;
  }
  g_video_up = true;
  return true;
}

SDL_Window* window() {
  return g_window;
}

int bpp_of(Uint32 format) {
  const int bpp = static_cast<int>(SDL_BITSPERPIXEL(format));
  return bpp == 24 ? 32 : bpp;
}

}  // namespace sdl_video
