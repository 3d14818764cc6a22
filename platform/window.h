#pragma once
// The top-level window, its OpenGL context, the display mode and the input
// queue: the windowing layer under the event pump (ui/hl_mnw.cpp). SDL2 does
// the work; nothing of SDL is visible here. Everything runs on the main
// thread. platform/ is the lowest layer: it includes nothing of the core.
//
// Two back ends (platform/window_backend.h), one chosen on first use:
// - the real one (SDL2 video, a real window and GL context: window_sdl.cpp,
//   gl_context_sdl.cpp, display_modes_sdl.cpp, keys_sdl.cpp);
// - the headless one (window_headless.cpp; plat_win_set_headless, or
//   SKYVANE_HEADLESS=1 in the environment): no window, no GL, no waiting;
//   the input queue holds only events injected with plat_win_inject. Core
//   tests drive the pump with it.
#include <string>

// One input event in the terms the pump uses.
enum plat_event_type {
  pev_none = 0,
  pev_quit,        // the user closed the window
  pev_expose,      // the window must be redrawn
  pev_mouse_move,  // x, y
  pev_mouse_down,  // button, x, y
  pev_mouse_up,    // button, x, y
  pev_wheel,       // wheel: notches, positive away from the user
  pev_key_down,    // key
  pev_key_up,      // key
};

// A key event, translated from the platform's key symbols into the
// framework's virtual-key codes (the classic PC set: Return 13, Escape 27,
// Delete 46, arrows 37..40, keypad digits 96..105, letters 65..90 ...).
struct plat_key {
  int vkey = 0;                      // virtual-key code, 0 when the key has none
  int scan = 0;                      // PC set-1 scan code with the extended bit as 0x100
  int extended = 0;                  // 1 for the keys of the extended block
  int repeat = 0;                    // 1 for an auto-repeated key-down
  int ch = 0;                        // ASCII character produced under the held modifiers, 0 none
  int shift = 0, ctrl = 0, alt = 0;  // modifiers held at the event
};

struct plat_event {
  plat_event_type type = pev_none;
  int x = 0, y = 0;  // mouse position in client pixels, origin top-left
  int button = 0;    // 1 left, 2 middle, 3 right
  int wheel = 0;
  plat_key key;
};

struct plat_display_mode {
  int w = 0, h = 0, bpp = 0;
};

// Uses the headless back end from now on (call before plat_win_create).
void plat_win_set_headless(bool on);
bool plat_win_headless();

// Starts the video subsystem (idempotent). False when no display can be
// opened; the caller reports it. SDL's invisible stand-in drivers
// ("offscreen", "dummy") count as no display unless SDL_VIDEODRIVER asks
// for them: an installer nobody can see would wait forever.
bool plat_video_init();
// Stops the video subsystem (after the window is gone).
void plat_video_quit();

// The desktop's current mode; false when it cannot be read.
bool plat_current_mode(plat_display_mode* out);
// Display mode number `index` of the list the display offers; false past
// the end.
bool plat_enum_mode(int index, plat_display_mode* out);
// Makes `mode` the mode of the window's screen while the program runs
// (applied when the window is created, full-screen). False when the display
// does not offer it.
bool plat_set_mode(const plat_display_mode& mode);
// Back to the desktop's own mode.
void plat_restore_mode();
// The mode set by plat_set_mode while it is in effect; false when the
// desktop keeps its own.
bool plat_mode_in_effect(plat_display_mode* out);
// Headless only: the desktop the stand-in reports (default 1280 x 1024 at
// 32 bits). It offers that mode, 800 x 600 and 1024 x 768 at 32 bits.
void plat_win_set_headless_desktop(int w, int h);
// Headless only: window creation fails while set (start-up failure tests).
void plat_win_set_headless_create_fails(bool on);

// Creates the window titled `title`, client area w x h at (x, y) of the
// desktop, captioned (title bar only) or borderless, with a double-buffered
// OpenGL compatibility context (1.x calls) made current. Returns false and
// leaves nothing behind on failure; `error` then says why.
bool plat_win_create(const char* title, int x, int y, int w, int h, bool captioned, int colour_bits,
                     std::string* error);
// Destroys the context and the window (nothing when there is none).
void plat_win_destroy();
bool plat_win_exists();
// Opaque handles of the window and its context (null when there is none;
// non-null stand-ins when headless).
void* plat_win_handle();
void* plat_win_context();
// Switches vertical sync off; false when the driver refuses.
bool plat_win_vsync_off();
void plat_win_swap();
// Shows only the rectangle (window pixels, origin bottom-left) of the back
// buffer, which stays as it is. False when the renderer cannot (then swap).
bool plat_win_present_rect(int x, int y, int w, int h);
// Client-area size actually obtained.
void plat_win_client_size(int* w, int* h);
// Desktop position of the client area's top-left corner.
void plat_win_client_pos(int* x, int* y);

// Next waiting event (removed from the queue); false when none is waiting.
// Injected events come first.
bool plat_win_poll(plat_event* ev);
// Waits until an event is waiting or `ms` milliseconds have passed; true
// when an event is waiting. Headless: returns at once.
bool plat_win_wait(int ms);
// Puts an event at the end of the injected queue (tests, headless runs).
void plat_win_inject(const plat_event& ev);

// The window's pixels on screen were lost: it was uncovered (an expose event
// passing through plat_win_poll marks it too) or a dialog lay over it.
// Without a compositor nothing keeps them, so the next present must show the
// whole window, not only what changed since the last frame.
void plat_win_mark_damaged();
// True once after the window was marked damaged; clears the mark.
bool plat_win_take_damaged();

// Shows (true) or hides the system pointer.
void plat_win_show_pointer(bool show);
