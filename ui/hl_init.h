#pragma once
// Start-up and shut-down of the framework: log file, tables, threads,
// display mode, the window with its GL context, the built-in pictures, the
// start-up status screen, and the orderly end. The functions themselves are
// declared in ui/hl_mnw.h beside the window record they fill.
#include <string>

#include "ui/hl_mnw.h"

// Tables filled at start-up.
extern float randrat[10000];   // rand()*0.9999/32767 from seed 1
extern float lookup_sin[361];  // sin of each whole degree 0..360
extern float lookup_cos[361];

// The four lines of the fatal alert shown when the graphics cannot start.
extern const char* const kGraphicsFailLines[4];

// ui/lower_layers.cpp. Fills in what the layers below take from the UI framework: MACIBM_alert
// as the handler of their reports (util/report.h), the window hooks of the
// frame clock (util/xtim.h) and the command registry's lister (io/). Run
// first by MACIBM_init; programs that use the core without the window (tests,
// tools) run it at their start.
void MACIBM_wire_lower_layers();

// Runs the settings saver the program handed down (MACIBM_set_settings_saver),
// if any; MACIBM_finishup(1) calls it.
void MACIBM_save_settings();

// The web address shown on the start-up status screen.
std::string MACIBM_vendor_web_address();

// What the OpenGL capability probe found (logged at start-up).
struct ogl_caps_struct {
  std::string vendor, renderer, version;
  int max_tex_size = 0;
  int tex_units = 1;
  int has_glsl = 0, has_fbo = 0, has_vbo = 0;
};
extern ogl_caps_struct ogl_caps;
namespace OGL_extensions {
// Reads the implementation's strings, extensions and limits, honours the
// "--no_..."/"--use_..." switches and logs the result.
void init_extensions();
}  // namespace OGL_extensions

// Whether the window for a desktop of mon_w x mon_h is captioned: the client
// area is more than 20 px smaller than the desktop in both directions.
bool MACIBM_window_is_captioned(int client_w, int client_h, int mon_w, int mon_h);

// The progress-bar fraction of the status screen: the given value, or
// counter/100 without one, clamped to [0.02, 1].
float MACIBM_show_init_fraction(const float* fraction, int counter);

// Forgets the display mode remembered by the first MACIBM_setres, so the
// next call starts afresh (tests).
void MACIBM_reset_display_state();

// Where MACIBM_init writes the log: `path`, or the platform's place for
// Log.txt when empty (the default). Test programs that run in parallel give
// each process its own file.
void MACIBM_set_log_file(const std::string& path);
