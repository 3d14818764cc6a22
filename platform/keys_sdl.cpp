// SDL2 back end of the window layer (see window.h), with the headless
// stand-in beside it.
#include "platform/window.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdlib>
#include <cstring>
#include <deque>

namespace {

bool g_headless = [] {
  const char* e = std::getenv("SKYVANE_HEADLESS");
  return e != nullptr && e[0] != '\0' && std::strcmp(e, "0") != 0;
}();
bool g_video_up = false;
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
int g_client_w = 0, g_client_h = 0;
bool g_mode_set = false;  // a full-screen display mode is wanted
SDL_DisplayMode g_mode{};
bool g_pointer_shown = true;
plat_display_mode g_headless_desktop{1280, 1024, 32};
plat_display_mode g_headless_set{};  // the stand-in's applied mode
bool g_headless_create_fails = false;
std::deque<plat_event> g_injected;

// Colour depth of a mode; 24-bit colour is held in 32-bit pixels.
int bpp_of(Uint32 format) {
  const int bpp = static_cast<int>(SDL_BITSPERPIXEL(format));
  return bpp == 24 ? 32 : bpp;
}

// PC set-1 scan codes of the keys the key translation singles out.
int scan_of(SDL_Keycode k) {
  switch (k) {
    case SDLK_LSHIFT:
      return 0x2A;
    case SDLK_RSHIFT:
      return 0x36;
    case SDLK_LCTRL:
      return 0x1D;
    case SDLK_RCTRL:
      return 0x11D;
    case SDLK_LALT:
      return 0x38;
    case SDLK_RALT:
      return 0x138;
    case SDLK_CAPSLOCK:
      return 0x3A;
    case SDLK_SCROLLLOCK:
      return 0x46;
    case SDLK_NUMLOCKCLEAR:
      return 0x145;
    case SDLK_RETURN:
      return 0x1C;
    case SDLK_KP_ENTER:
      return 0x11C;
    case SDLK_ESCAPE:
      return 0x01;
    case SDLK_BACKSPACE:
      return 0x0E;
    case SDLK_TAB:
      return 0x0F;
    case SDLK_SPACE:
      return 0x39;
    default:
      return 0;
  }
}

// The keys of the extended block (grey navigation keys, right-hand
// modifiers, keypad Enter and divide, Num Lock).
bool is_extended(SDL_Keycode k) {
  switch (k) {
    case SDLK_INSERT:
    case SDLK_DELETE:
    case SDLK_HOME:
    case SDLK_END:
    case SDLK_PAGEUP:
    case SDLK_PAGEDOWN:
    case SDLK_LEFT:
    case SDLK_RIGHT:
    case SDLK_UP:
    case SDLK_DOWN:
    case SDLK_RCTRL:
    case SDLK_RALT:
    case SDLK_KP_ENTER:
    case SDLK_KP_DIVIDE:
    case SDLK_NUMLOCKCLEAR:
    case SDLK_LGUI:
    case SDLK_RGUI:
    case SDLK_APPLICATION:
    case SDLK_PRINTSCREEN:
      return true;
    default:
      return false;
  }
}

// Virtual-key code of an SDL key; `numlock` selects the keypad's digit or
// navigation meaning.
int vkey_of(SDL_Keycode k, bool numlock) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
  if (k >= SDLK_F13 && k <= SDLK_F24) return 124 + (k - SDLK_F13);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) {
    static const int nav[9] = {35, 40, 34, 37, 12,
                               39, 36, 38, 33};  // End Down PgDn Left Clear Right Home Up PgUp
    return numlock ? 97 + (k - SDLK_KP_1) : nav[k - SDLK_KP_1];
  }
  switch (k) {
    case SDLK_KP_0:
      return numlock ? 96 : 45;
    case SDLK_KP_PERIOD:
      return numlock ? 110 : 46;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_CLEAR:
      return 12;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    case SDLK_PAUSE:
      return 19;
    case SDLK_CAPSLOCK:
      return 20;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_SPACE:
      return 32;
    case SDLK_PAGEUP:
      return 33;
    case SDLK_PAGEDOWN:
      return 34;
    case SDLK_END:
      return 35;
    case SDLK_HOME:
      return 36;
    case SDLK_LEFT:
      return 37;
    case SDLK_UP:
      return 38;
    case SDLK_RIGHT:
      return 39;
    case SDLK_DOWN:
      return 40;
    case SDLK_PRINTSCREEN:
      return 44;
    case SDLK_INSERT:
      return 45;
    case SDLK_DELETE:
      return 46;
    case SDLK_LGUI:
      return 91;
    case SDLK_RGUI:
      return 92;
    case SDLK_APPLICATION:
      return 93;
    case SDLK_KP_MULTIPLY:
      return 106;
    case SDLK_KP_PLUS:
      return 107;
    case SDLK_KP_MINUS:
      return 109;
    case SDLK_KP_DIVIDE:
      return 111;
    case SDLK_NUMLOCKCLEAR:
      return 144;
    case SDLK_SCROLLLOCK:
      return 145;
    case SDLK_SEMICOLON:
      return 186;
    case SDLK_EQUALS:
      return 187;
    case SDLK_COMMA:
      return 188;
    case SDLK_MINUS:
      return 189;
    case SDLK_PERIOD:
      return 190;
    case SDLK_SLASH:
      return 191;
    case SDLK_BACKQUOTE:
      return 192;
    case SDLK_LEFTBRACKET:
      return 219;
    case SDLK_BACKSLASH:
      return 220;
    case SDLK_RIGHTBRACKET:
      return 221;
    case SDLK_QUOTE:
      return 222;
    default:
      return 0;
  }
}

// The ASCII character a key gives on a US layout under the held modifiers,
// 0 when it gives none (navigation and function keys, most Control chords).
int char_of(SDL_Keycode k, bool shift, bool ctrl, bool caps, bool numlock) {
  if (k >= SDLK_a && k <= SDLK_z) {
    if (ctrl) return 1 + (k - SDLK_a);
    return (shift != caps ? 'A' : 'a') + (k - SDLK_a);
  }
  if (ctrl) {
    if (k == SDLK_RETURN || k == SDLK_KP_ENTER) return 10;
    if (k == SDLK_BACKSPACE) return 127;
    if (k == SDLK_ESCAPE) return 27;
    return 0;
  }
  if (k >= SDLK_0 && k <= SDLK_9) return shift ? ")!@#$%^&*("[k - SDLK_0] : static_cast<int>(k);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return numlock ? '1' + (k - SDLK_KP_1) : 0;
  static const struct {
    SDL_Keycode k;
    char plain, shifted;
  } sym[] = {{SDLK_MINUS, '-', '_'},        {SDLK_EQUALS, '=', '+'},     {SDLK_LEFTBRACKET, '[', '{'},
             {SDLK_RIGHTBRACKET, ']', '}'}, {SDLK_BACKSLASH, '\\', '|'}, {SDLK_SEMICOLON, ';', ':'},
             {SDLK_QUOTE, '\'', '"'},       {SDLK_COMMA, ',', '<'},      {SDLK_PERIOD, '.', '>'},
             {SDLK_SLASH, '/', '?'},        {SDLK_BACKQUOTE, '`', '~'},  {SDLK_SPACE, ' ', ' '}};
  for (const auto& s : sym)
    if (s.k == k) return shift ? s.shifted : s.plain;
  switch (k) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_KP_0:
      return numlock ? '0' : 0;
    case SDLK_KP_PERIOD:
      return numlock ? '.' : 0;
    case SDLK_KP_MULTIPLY:
      return '*';
    case SDLK_KP_PLUS:
      return '+';
    case SDLK_KP_MINUS:
      return '-';
    case SDLK_KP_DIVIDE:
      return '/';
    default:
      // Other layouts' printable keys (AZERTY's '&', '(' ...) give their
      // own character.
      return k >= 32 && k < 127 ? static_cast<int>(k) : 0;
  }
}

plat_key translate_key(const SDL_KeyboardEvent& e) {
  plat_key key;
  const SDL_Keycode k = e.keysym.sym;
  const Uint16 mod = e.keysym.mod;
  const bool numlock = (mod & KMOD_NUM) != 0;
  key.shift = (mod & KMOD_SHIFT) != 0;
  key.ctrl = (mod & KMOD_CTRL) != 0;
  key.alt = (mod & KMOD_ALT) != 0;
  key.vkey = vkey_of(k, numlock);
  key.scan = scan_of(k);
  key.extended = is_extended(k) ? 1 : 0;
  key.repeat = e.repeat ? 1 : 0;
  key.ch = char_of(k, key.shift, key.ctrl, (mod & KMOD_CAPS) != 0, numlock);
  return key;
}

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
      out->key = translate_key(e.key);
      return true;
    default:
      return false;
  }
}

}  // namespace

void plat_win_set_headless(bool on) {
  g_headless = on;
}
bool plat_win_headless() {
  return g_headless;
}

bool plat_video_init() {
  if (g_headless) return true;
  if (g_video_up) return true;
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

void plat_video_quit() {
  if (!g_video_up) return;
  plat_win_destroy();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  g_video_up = false;
  g_mode_set = false;
}

bool plat_current_mode(plat_display_mode* out) {
  if (g_headless) {
    *out = g_mode_set ? g_headless_set : g_headless_desktop;
    return true;
  }
  if (!plat_video_init()) return false;
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(0, &m) != 0) return false;
  *out = {m.w, m.h, bpp_of(m.format)};
  return true;
}

bool plat_enum_mode(int index, plat_display_mode* out) {
  if (g_headless) {
    const plat_display_mode modes[3] = {g_headless_desktop, {800, 600, 32}, {1024, 768, 32}};
    if (index < 0 || index >= 3) return false;
    *out = modes[index];
    return true;
  }
  if (!plat_video_init()) return false;
  SDL_DisplayMode m;
  if (index < 0 || index >= SDL_GetNumDisplayModes(0) || SDL_GetDisplayMode(0, index, &m) != 0) return false;
  *out = {m.w, m.h, bpp_of(m.format)};
  return true;
}

bool plat_set_mode(const plat_display_mode& mode) {
  if (g_headless) {
    g_headless_set = mode;
    g_mode_set = true;
    return true;
  }
  if (!plat_video_init()) return false;
  for (int i = 0, n = SDL_GetNumDisplayModes(0); i < n; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    if (m.w == mode.w && m.h == mode.h && bpp_of(m.format) == mode.bpp) {
      g_mode = m;
      g_mode_set = true;
      if (g_window) {
        SDL_SetWindowDisplayMode(g_window, &g_mode);
        SDL_SetWindowFullscreen(g_window, SDL_WINDOW_FULLSCREEN);
      }
      return true;
    }
  }
  return false;
}

bool plat_mode_in_effect(plat_display_mode* out) {
  if (!g_mode_set) return false;
  if (g_headless) {
    *out = g_headless_set;
  } else {
    const int bpp = bpp_of(g_mode.format);
    *out = {g_mode.w, g_mode.h, bpp};
  }
  return true;
}

void plat_win_set_headless_desktop(int w, int h) {
  g_headless_desktop = {w, h, 32};
}

void plat_win_set_headless_create_fails(bool on) {
  g_headless_create_fails = on;
}

void plat_restore_mode() {
  if (!g_mode_set) return;
  g_mode_set = false;
  if (g_window) SDL_SetWindowFullscreen(g_window, 0);
}

bool plat_win_create(const char* title, int x, int y, int w, int h, bool captioned, int colour_bits,
                     std::string* error) {
  if (g_headless) {
    if (g_headless_create_fails) {
      if (error) *error = "window creation refused (headless test setting)";
      return false;
    }
    g_client_w = w;
    g_client_h = h;
    return true;
  }
  if (!plat_video_init()) {
    if (error) *error = SDL_GetError();
    return false;
  }
  plat_win_destroy();
  const int channel = colour_bits >= 24 ? 8 : 5;
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
  if (!captioned) flags |= SDL_WINDOW_BORDERLESS;
  if (g_mode_set) flags |= SDL_WINDOW_FULLSCREEN;
  // The deepest depth buffer the driver has, from 32 bits down.
  for (int depth : {32, 24, 16}) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    g_window = SDL_CreateWindow(title, x, y, w, h, flags);
    if (g_window) break;
  }
  if (!g_window) {
    if (error) *error = SDL_GetError();
    return false;
  }
  if (g_mode_set) SDL_SetWindowDisplayMode(g_window, &g_mode);
  g_context = SDL_GL_CreateContext(g_window);
  if (!g_context || SDL_GL_MakeCurrent(g_window, g_context) != 0) {
    if (error) *error = SDL_GetError();
    plat_win_destroy();
    return false;
  }
  // Keys arrive as key events; no text-input (IME) machinery is wanted.
  SDL_StopTextInput();
  SDL_GL_GetDrawableSize(g_window, &g_client_w, &g_client_h);
  return true;
}

void plat_win_destroy() {
  if (g_context) {
    SDL_GL_MakeCurrent(g_window, nullptr);
    SDL_GL_DeleteContext(g_context);
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

bool plat_win_exists() {
  return g_headless ? g_client_w > 0 : g_window != nullptr;
}

void* plat_win_handle() {
  static int stand_in;
  return g_headless ? (g_client_w > 0 ? &stand_in : nullptr) : static_cast<void*>(g_window);
}

void* plat_win_context() {
  static int stand_in;
  return g_headless ? (g_client_w > 0 ? &stand_in : nullptr) : static_cast<void*>(g_context);
}

bool plat_win_vsync_off() {
  if (g_headless) return true;
  return g_context != nullptr && SDL_GL_SetSwapInterval(0) == 0;
}

void plat_win_swap() {
  if (g_window) SDL_GL_SwapWindow(g_window);
}

bool plat_win_present_rect(int x, int y, int w, int h) {
  // GLX_MESA_copy_sub_buffer: the X11 GLX of Mesa's renderers. Looked up
  // once per window; the X display and window come from SDL.
  using copy_fn = void (*)(void* display, unsigned long drawable, int x, int y, int w, int h);
  static SDL_Window* looked_up = nullptr;
  static copy_fn copy = nullptr;
  static void* display = nullptr;
  static unsigned long drawable = 0;
  if (!g_window || g_headless) return false;
  if (looked_up != g_window) {
    looked_up = g_window;
    copy = nullptr;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(g_window, &info) && info.subsystem == SDL_SYSWM_X11) {
      display = info.info.x11.display;
      drawable = info.info.x11.window;
      using query_fn = const char* (*)(Display*, int);
      auto query = reinterpret_cast<query_fn>(SDL_GL_GetProcAddress("glXQueryExtensionsString"));
      Display* d = info.info.x11.display;
      const char* ext = query ? query(d, DefaultScreen(d)) : nullptr;
      if (ext && std::strstr(ext, "GLX_MESA_copy_sub_buffer"))
        copy = reinterpret_cast<copy_fn>(SDL_GL_GetProcAddress("glXCopySubBufferMESA"));
    }
  }
  if (!copy) return false;
  copy(display, drawable, x, y, w, h);
  return true;
}

void plat_win_client_size(int* w, int* h) {
  *w = g_client_w;
  *h = g_client_h;
}

void plat_win_client_pos(int* x, int* y) {
  *x = *y = 0;
  if (g_window) SDL_GetWindowPosition(g_window, x, y);
}

bool plat_win_poll(plat_event* ev) {
  if (!g_injected.empty()) {
    *ev = g_injected.front();
    g_injected.pop_front();
    return true;
  }
  if (g_headless || !g_video_up) return false;
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

bool plat_win_wait(int ms) {
  if (!g_injected.empty()) return true;
  if (g_headless || !g_video_up) return false;
  return SDL_WaitEventTimeout(nullptr, ms) == 1;
}

void plat_win_inject(const plat_event& ev) {
  g_injected.push_back(ev);
}

void plat_win_show_pointer(bool show) {
  if (show == g_pointer_shown) return;
  g_pointer_shown = show;
  if (!g_headless && g_video_up) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}
