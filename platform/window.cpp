// The window layer (see window.h): picks its implementation once, SDL2 or
// the headless stand-in, forwards every call to it, and keeps the queue of
// injected input in front of both.
#include "platform/window.h"

#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/crash_parts.h"
#include "platform/window_backend.h"

namespace {

plat_window_backend* g_backend = nullptr;  // chosen on first use
std::deque<plat_event> g_injected;
bool g_damaged = false;  // the whole window must be shown again

plat_window_backend& backend() {
  if (!g_backend) {
    const char* e = std::getenv("SKYVANE_HEADLESS");
    const bool headless = e != nullptr && e[0] != '\0' && std::strcmp(e, "0") != 0;
    g_backend = headless ? &plat_headless_backend() : &plat_sdl_backend();
  }
  return *g_backend;
}

}  // namespace

void plat_win_set_headless(bool on) {
  g_backend = on ? &plat_headless_backend() : &plat_sdl_backend();
}
bool plat_win_headless() {
  return &backend() == &plat_headless_backend();
}

bool plat_video_init() {
  return backend().video_init();
}
void plat_video_quit() {
  backend().video_quit();
}

bool plat_current_mode(plat_display_mode* out) {
  return backend().current_mode(out);
}
bool plat_enum_mode(int index, plat_display_mode* out) {
  return backend().enum_mode(index, out);
}
bool plat_set_mode(const plat_display_mode& mode) {
  return backend().set_mode(mode);
}
void plat_restore_mode() {
  backend().restore_mode();
}

bool plat_mode_in_effect(plat_display_mode* out) {
  return backend().mode_in_effect(out);
}

void platform_restore_mode_in_handler() {
  // No back end chosen yet: no mode was ever set.
  plat_display_mode mode;
  if (g_backend && g_backend->mode_in_effect(&mode)) g_backend->restore_mode();
}

bool plat_win_create(const char* title, int x, int y, int w, int h, bool captioned, int colour_bits,
                     std::string* error) {
  return backend().create(title, x, y, w, h, captioned, colour_bits, error);
}
void plat_win_destroy() {
  backend().destroy();
}
bool plat_win_exists() {
  return backend().exists();
}
void* plat_win_handle() {
  return backend().handle();
}
void* plat_win_context() {
  return backend().context();
}
bool plat_win_vsync_off() {
  return backend().vsync_off();
}
void plat_win_swap() {
  backend().swap();
}
bool plat_win_present_rect(int x, int y, int w, int h) {
  return backend().present_rect(x, y, w, h);
}
void plat_win_client_size(int* w, int* h) {
  backend().client_size(w, h);
}
void plat_win_client_pos(int* x, int* y) {
  backend().client_pos(x, y);
}

bool plat_win_poll(plat_event* ev) {
  bool got = false;
  if (!g_injected.empty()) {
    *ev = g_injected.front();
    g_injected.pop_front();
    got = true;
  } else {
    got = backend().poll(ev);
  }
  if (got && ev->type == pev_expose) g_damaged = true;
  return got;
}

bool plat_win_wait(int ms) {
  if (!g_injected.empty()) return true;
  return backend().wait(ms);
}

void plat_win_inject(const plat_event& ev) {
  g_injected.push_back(ev);
}

void plat_win_mark_damaged() {
  g_damaged = true;
}

bool plat_win_take_damaged() {
  const bool was = g_damaged;
  g_damaged = false;
  return was;
}

void plat_win_show_pointer(bool show) {
  backend().show_pointer(show);
}
