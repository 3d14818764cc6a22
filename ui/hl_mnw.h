#pragma once
// The main window and the event pump: the window record `mnw` (current
// (sub-)window, its layout, the per-pass input state), the UI text table
// `stls`, the pump `MACIBM_event_proc` that the entry point calls in a loop,
// window layout (`MACIBM_startwind`) and mouse-press handling
// (`MACIBM_handleclick`). Everything here runs on the main thread.
//
// ui/ includes io/, net/, util/ and platform/, never prefs/ or installer/
// (order: platform < util < io, net < ui < prefs < installer); what it needs
// from above is handed down at start-up (MACIBM_set_busy_setting,
// MACIBM_set_settings_saver), and it fills in what the layers below take
// from it (MACIBM_wire_lower_layers, ui/lower_layers.cpp).
//
// Coordinates: one unit is one pixel; the origin is the bottom-left corner of
// the current (sub-)window, y grows upwards. `mx`, `my` are in those
// coordinates; the drawing primitives add (`win_x`, `win_y`).
#include <cstdint>
#include <string>
#include <vector>

#include "io/app_path.h"  // app_path, the program-folder prefix
#include "ui/hl_alert.h"  // ogl_inited, in_alert

struct mnw_class {
  int alias_req = 0;      // requested multisample level 0..4
  int alias_act = 0;      // multisample level obtained
  int pixel_format = 0;   // pixel format chosen for the window
  void* window[2] = {};   // top-level windows (platform handles); slot 1 unused
  void* context[2] = {};  // GL contexts
  void* dc[2] = {};       // device contexts (unused on this platform)
  int sec_mon_inuse = 0;
  int sec_mon_inited = 0;
  int top_win_cmnd = -1;                                    // window code that receives mouse input
  int top_win_now = -1;                                     // window code shown now; -1 before the first pass
  int top_win_mouse = -1;                                   // window code under the mouse
  int is_modal = 0;                                         // 1 while a sized sub-window is up: no APP_update
  float win_x = 0.0f, win_y = 0.0f;                         // origin of the current window, pixels
  float win_dx = 0.0f, win_dy = 0.0f;                       // size of the current window, pixels
  int cursor_type = 0;                                      // 0 normal, 2 hidden
  int menu_up = -1;                                         // open menu, -1 none
  int x_res_now = 1024, y_res_now = 768, col_res_now = 32;  // client area used
  int set_res = 0;                                          // 1 forces a display-mode change
  int tex_res = 5;
  int x_res_req = 1024, y_res_req = 768, col_res_req = 32;
  float x_ctr = 512.0f, y_ctr = 384.0f;    // layout centre
  float extra_sx = 0.0f, extra_ty = 0.0f;  // margins of a larger client area
  int set_app_to_monitor = 0;
  float x1_pix = 0.0f, y1_pix = 0.0f, x2_pix = 1024.0f, y2_pix = 768.0f;
  float xy_scale_coc = 1.0f, xy_scale_now = 1.0f;
  float mx = 0.0f, my = 0.0f;    // mouse, current-window coordinates, y up
  int mouse_clicked = 0;         // a button went down this pass
  int mouse_did_click = 0;       // came up within 0.25 s of going down
  int mouse_double_clicked = 0;  // press within 0.25 s of the previous press
  int mouse_lifted = 0;          // a button came up this pass
  int now_dragging = 0;          // a button is held
  int delay_dragging = 0;        // held for at least 0.25 s
  int mouse_wheel = 0;           // notches since the window was laid out
  int key_hit = 0;               // a key went down this pass
  int key_pressed = 0;           // character of the last key that produced one
  float m_move_time = 0.0f;      // last movement or press, seconds
  float m_down_time = -1000.0f;  // last press, seconds (long before the start)
  int any_key_is_down = 0;
  int lang = 0;            // language; -1 asks once, 0 English
  int track_cpu = 0;       // timing marks in the log
  int typing_message = 0;  // keys go to text entry, not to bindings
};
extern mnw_class mnw;

// UI strings: the current window's title, the hover help of this pass, and
// the UI text table (entry 602 is the alert button "OK").
constexpr int kUiTextCount = 1000;
struct stls_class {
  std::string win_name;
  std::string help_message;  // set by a control each pass; emptied after drawing
  std::vector<std::string> text = std::vector<std::string>(kUiTextCount);
};
extern stls_class stls;

// Menu table, dormant in the installer (no menus are defined).
struct item_struct {
  std::string item_name;
  int item_code = 0;
  uint8_t is_korean = 0;
  int16_t itemx1 = 0, itemy1 = 0, itemx2 = 0, itemy2 = 0;
};
struct menu_struct {
  std::string menu_name;
  int menu_prnt = -1;  // -1 top level
  int16_t menux1 = 0, menuy1 = 0, menux2 = 0, menuy2 = 0;
  std::vector<item_struct> item;
};
extern std::vector<menu_struct> menu;
constexpr int kPopupMenu = 1519;
extern int popup_menu_choice;  // item index chosen in the pop-up menu, -1 none

// Globals of the window layer.
extern int app_done;              // leave the main loop
extern int have_created_ibm_win;  // the window exists
extern int win_started;           // the first pass has laid out the window
extern void* active_inst;         // handed over by the entry point (unused here)
extern int active_windstyle;
extern int g_mon_x_res_now, g_mon_y_res_now;            // current desktop size
extern int hres_orig, vres_orig, cres_orig, sres_orig;  // mode at start-up; sres: changed
extern int plot_init_lights;                            // the status screen may draw
extern int return_hit, escape_hit, delete_hit;          // per-pass key flags
extern int counter_now;                                 // MACIBM_show_init calls without a fraction
extern int g_case_sensitive;

// Window codes used by the installer.
constexpr int kWinMain = 0;
constexpr int kWinEula = 1;
constexpr int kWinAlert = 995;
constexpr int kWinFilePrompt = 997;

// Size and title of a sized window code; false for codes that use the whole
// client area. `title` receives the title text (UI text table entries).
bool MACIBM_window_size(int code, float* dx, float* dy, std::string* title);

// Makes `code` the current window and lays it out (sized codes are centred
// and modal). `flag` has no effect.
void MACIBM_startwind(int code, int flag);

// Mouse press (and forced close on Return): sub-window close boxes, menus.
void MACIBM_handleclick(int forced);

// Close-box hit test of a sized sub-window in its own coordinates, bounds
// inclusive: 0 none, 1 left box, 2 right box.
int MACIBM_close_box_hit(float mx, float my, float win_dx, float win_dy);

// One pass of the pump: input, clock, APP_update (unless modal), hover help,
// buffer swap. A pass without input waits up to 16 ms for some first (the
// idle wait), unless use_max_cpu is set or the last pass's APP_update had
// work in progress (MACIBM_not_idle).
void MACIBM_event_proc();

// Called by APP_update while it is doing work in bounded slices (an
// install): such a pass is not idle, so the next pass starts at once instead
// of waiting for input, and the work gets the time between redraws.
void MACIBM_not_idle();

// Hover help box and pointer hiding for window `code`, once per pass.
void mouse_help_per_wind(int code);

// Where the hover help box goes: the text's origin (x, y) and the text
// area's height h (the frame is drawn 10 px around it, 420 px wide). False
// while the mouse has rested less than 1 s or there is no help text.
struct help_box {
  float x = 0, y = 0;
  int h = 0;
};
bool help_box_place(const std::string& help, float still_seconds, float mx, float my, float win_x,
                    float win_y, int x_res, int y_res, help_box* out);

// Empties the menu table and refills it with 1520 empty top-level menus when
// `reset` is 1.
void MACIBM_clear_menus(int reset);

// The application's per-pass function. The installer's driver registers its
// APP_update here before the first pass; without one the pump calls nothing.
using app_update_fn = void (*)();
void MACIBM_set_app_update(app_update_fn fn);
using app_handlemenu_fn = void (*)(int item_code);
void MACIBM_set_app_handlemenu(app_handlemenu_fn fn);

// Sets the program-folder prefix (ends in '/', or empty).
void MACIBM_set_app_path(const std::string& path);

// What the framework takes from the program above it (prefs/, installer/),
// handed down at start-up: the setting "never sleep between passes", read on
// every pass, and the saving of the settings that MACIBM_finishup(1) runs.
// Without them the pump waits when idle and nothing is saved.
void MACIBM_set_busy_setting(const int* use_max_cpu);
void MACIBM_set_settings_saver(void (*save)());

// Start-up and shut-down (ui/hl_init.cpp).
void MACIBM_init(int argc, const char* const* argv);
void MACIBM_finishup(int save);
void MACIBM_setres(int set);
int MACIBM_make_context(int slot);
void MACIBM_nuke_context(int slot);
void MACIBM_show_init(const std::string& message, const float* fraction);
// 2-D coordinate system of the client area (one unit per pixel).
void OGL_pix_specs(int);
// The drawn alert (window 995) with its nested pump loop; installed as the
// alert's drawn handler once GL is up. Returns when the button or Return was
// pressed (at once for type 2, whose caller then ends the program), or when
// the window was closed.
void MACIBM_drawn_alert(int return_win, const std::string lines[4], int type, const std::string& location);

// Viewport and projection. Mode 2 is the 2-D pixel mode: viewport over the
// whole client area, orthographic projection over (x1_pix..x2_pix,
// y1_pix..y2_pix)/divisor, model-view identity; the rectangle arguments are
// ignored in that mode.
void OGL_viewport(int mode, float x1, float y1, float x2, float y2, float divisor, int keep_aspect);
