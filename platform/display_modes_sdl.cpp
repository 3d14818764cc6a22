// Display modes of the SDL2 window layer: the desktop's mode, the modes the
// display offers, and the full-screen mode the window takes while the
// program runs.
#include <SDL.h>

#include "platform/sdl_video.h"

namespace {

bool g_mode_set = false;  // a full-screen display mode is wanted
SDL_DisplayMode g_mode{};

}  // namespace

namespace sdl_video {

bool current_mode(plat_display_mode* out) {
  if (!init()) return false;
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(0, &m) != 0) return false;
  *out = {m.w, m.h, bpp_of(m.format)};
  return true;
}

bool enum_mode(int index, plat_display_mode* out) {
  if (!init()) return false;
  SDL_DisplayMode m;
  if (index < 0 || index >= SDL_GetNumDisplayModes(0) || SDL_GetDisplayMode(0, index, &m) != 0) return false;
  *out = {m.w, m.h, bpp_of(m.format)};
  return true;
}

bool set_mode(const plat_display_mode& mode) {
  if (!init()) return false;
  for (int i = 0, n = SDL_GetNumDisplayModes(0); i < n; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    if (m.w == mode.w && m.h == mode.h && bpp_of(m.format) == mode.bpp) {
      g_mode = m;
      g_mode_set = true;
      if (SDL_Window* w = window()) {
        SDL_SetWindowDisplayMode(w, &g_mode);
        SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN);
      }
      return true;
    }
  }
  return false;
}

void restore_mode() {
  if (!g_mode_set) return;
  g_mode_set = false;
  if (SDL_Window* w = window()) SDL_SetWindowFullscreen(w, 0);
}

bool mode_in_effect(plat_display_mode* out) {
  if (!g_mode_set) return false;
  *out = {g_mode.w, g_mode.h, bpp_of(g_mode.format)};
  return true;
}

bool wanted_mode(SDL_DisplayMode* out) {
  if (!g_mode_set) return false;
  *out = g_mode;
  return true;
}

void forget_mode() {
  g_mode_set = false;
}

}  // namespace sdl_video
