// The OpenGL side of the SDL2 window layer: the window's GL attributes, its
// compatibility context (1.x calls), vertical sync, buffer swaps and the
// partial present.
#include <SDL.h>
#include <SDL_syswm.h>

#include <cstring>

#include "platform/sdl_video.h"

namespace sdl_video {

SDL_Window* create_gl_window(const char* title, int x, int y, int w, int h, Uint32 flags, int colour_bits) {
  const int channel = colour_bits >= 24 ? 8 : 5;
  // The deepest depth buffer the driver has, from 32 bits down.
  for (int depth : {32, 24, 16}) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    if (SDL_Window* window = SDL_CreateWindow(title, x, y, w, h, flags)) return window;
  }
  return nullptr;
}

SDL_GLContext create_context(SDL_Window* window) {
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (context && SDL_GL_MakeCurrent(window, context) != 0) {
    delete_context(window, context);
    return nullptr;
  }
  return context;
}

void delete_context(SDL_Window* window, SDL_GLContext context) {
  SDL_GL_MakeCurrent(window, nullptr);
  SDL_GL_DeleteContext(context);
}

bool swap_interval_off() {
  return SDL_GL_SetSwapInterval(0) == 0;
}

void swap(SDL_Window* window) {
  SDL_GL_SwapWindow(window);
}

bool present_rect(SDL_Window* window, int x, int y, int w, int h) {
  // GLX_MESA_copy_sub_buffer: the X11 GLX of Mesa's renderers. Looked up
  // once per window; the X display and window come from SDL.
  using copy_fn = void (*)(void* display, unsigned long drawable, int x, int y, int w, int h);
  static SDL_Window* looked_up = nullptr;
  static copy_fn copy = nullptr;
  static void* display = nullptr;
  static unsigned long drawable = 0;
  if (looked_up != window) {
    looked_up = window;
    copy = nullptr;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
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

}  // namespace sdl_video
