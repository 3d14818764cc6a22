#pragma once
// What the parts of the SDL2 implementation of platform/window.h share:
// window_sdl.cpp owns the video subsystem and the window, gl_context_sdl.cpp
// the GL context, display_modes_sdl.cpp the full-screen mode and
// keys_sdl.cpp the key translation.
#include <SDL.h>

#include "platform/window.h"

namespace sdl_video {

// window_sdl.cpp
bool init();                // plat_video_init
SDL_Window* window();       // null when there is none
int bpp_of(Uint32 format);  // colour depth of a pixel format (24-bit colour counts as 32)

// display_modes_sdl.cpp
bool current_mode(plat_display_mode* out);
bool enum_mode(int index, plat_display_mode* out);
bool set_mode(const plat_display_mode& mode);
void restore_mode();
bool mode_in_effect(plat_display_mode* out);
// The full-screen mode a new window takes; false while the desktop keeps its
// own.
bool wanted_mode(SDL_DisplayMode* out);
// The video subsystem stopped: no mode is wanted any more.
void forget_mode();

// gl_context_sdl.cpp
// Creates a window ready for a double-buffered compatibility context with
// `colour_bits` of colour and the deepest depth buffer the driver has.
SDL_Window* create_gl_window(const char* title, int x, int y, int w, int h, Uint32 flags, int colour_bits);
// The window's context, made current; null on failure.
SDL_GLContext create_context(SDL_Window* window);
void delete_context(SDL_Window* window, SDL_GLContext context);
bool swap_interval_off();
void swap(SDL_Window* window);
// Shows a rectangle of the back buffer (see plat_win_present_rect).
bool present_rect(SDL_Window* window, int x, int y, int w, int h);

// keys_sdl.cpp
plat_key translate_key(const SDL_KeyboardEvent& e);

}  // namespace sdl_video
