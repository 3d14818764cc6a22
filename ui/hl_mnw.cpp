// The event pump and window layout.
//
// Sections: globals; window codes and layout; mouse presses and close
// boxes; input events (the window procedure); hover help and pointer; the
// pump pass.
#include "ui/hl_mnw.h"

#include <algorithm>
#include <cmath>

#include "io/app_path.h"
#include "platform/window.h"
#include "ui/butn.h"
#include "ui/keys.h"
#include "ui/oglp.h"
#include "ui/tman.h"
#include "util/HL_THREAD.h"
#include "util/xtim.h"

// ---------------------------------------------------------------------------
// Globals

mnw_class mnw;
stls_class stls;
std::vector<menu_struct> menu;
int popup_menu_choice = -1;

int app_done = 0;
int have_created_ibm_win = 0;
int win_started = 0;
void* active_inst = nullptr;
int active_windstyle = 0;
int g_mon_x_res_now = 0, g_mon_y_res_now = 0;
int hres_orig = 0, vres_orig = 0, cres_orig = 0, sres_orig = 0;
int plot_init_lights = 0;
int return_hit = 0, escape_hit = 0, delete_hit = 0;
int counter_now = 0;
int g_case_sensitive = 0;

namespace {
const int* g_use_max_cpu = nullptr;  // the program's setting, handed down

app_update_fn g_app_update = nullptr;
app_handlemenu_fn g_app_handlemenu = nullptr;

// Last pointer position in client pixels (origin top-left), so that the
// window-relative position can be worked out again when the layout changes.
int g_abs_mouse_x = 0, g_abs_mouse_y = 0;
bool g_have_abs_mouse = false;

void rebase_mouse() {
  if (!g_have_abs_mouse) return;
  mnw.mx = g_abs_mouse_x / mnw.xy_scale_now - mnw.win_x;
  mnw.my = (mnw.y_res_now - g_abs_mouse_y) / mnw.xy_scale_now - mnw.win_y;
}

// The installer defines no menus, so the menu bar draws nothing.
void standard_gui() {}

bool in_menu_bounds(const menu_struct& m) {
  if (m.menux1 == m.menux2 || m.menuy1 == m.menuy2) return false;  // an unused entry
  return mnw.mx >= m.menux1 && mnw.mx <= m.menux2 && mnw.my >= m.menuy1 && mnw.my <= m.menuy2;
}

// One-time alerts for pictures that failed to load (flags of the texture
// table), shown from the main screen.
void texture_failure_alerts() {
  const std::string missing = "Please see the log.txt file for a detailed list of missing files.";
  if (tman.has_scene_load_fail()) {
    tman.mute_scene_load_fail();
    MACIBM_alert(0, "Some scenery textures could not be loaded.",
                 "This may be an installation problem or you may have a damaged add-on scenery package.",
                 missing, "", t_alert, "hl_mnw", __LINE__);
  }
  if (tman.has_plane_load_fail()) {
    tman.mute_plane_load_fail();
    MACIBM_alert(0, "Some textures for the aircraft you selected could not be loaded.",
                 "This may be an installation problem or you may have a damaged add-on aircraft package.",
                 missing, "", t_alert, "hl_mnw", __LINE__);
  }
  if (tman.has_instl_load_fail()) {
    tman.mute_instl_load_fail();
    MACIBM_alert(0, "Some textures could not be loaded.",
                 "This may be an installation problem.  Run the installer/updater again to get these missing "
                 "textures.",
                 missing, "", t_alert, "hl_mnw", __LINE__);
  }
}

}  // namespace

void MACIBM_set_app_update(app_update_fn fn) {
  g_app_update = fn;
}
void MACIBM_set_app_handlemenu(app_handlemenu_fn fn) {
  g_app_handlemenu = fn;
}
void MACIBM_set_busy_setting(const int* use_max_cpu) {
  g_use_max_cpu = use_max_cpu;
}

void MACIBM_set_app_path(const std::string& path) {
  app_path = path;
}

void MACIBM_clear_menus(int reset) {
  if (reset != 1) return;
  menu.assign(kPopupMenu + 1, menu_struct{});
}

// ---------------------------------------------------------------------------
// Window codes and layout

bool MACIBM_window_size(int code, float* dx, float* dy, std::string* title) {
  struct sized {
    int code;
    float dx, dy;
    int text;  // UI text entry of the title, or -1 with `name`
    const char* name;
  };
  static const sized table[] = {
      {1, 500, 300, -1, "EULA"}, {2, 600, 380, -1, "Prefs"}, {993, 561, 474, -1, "Livery"},
      {994, 600, 300, 612, ""},  {995, 420, 250, 600, ""},   {996, 300, 166, 601, ""},
      {997, 700, 146, 601, ""},  {998, 561, 474, 613, ""},   {999, 330, 474, 76, ""},
  };
  for (const sized& s : table) {
    if (s.code != code) continue;
    *dx = s.dx;
    *dy = s.dy;
    if (title) *title = s.text >= 0 ? stls.text[s.text] : s.name;
    return true;
  }
  return false;
}

void MACIBM_startwind(int code, int /*flag*/) {
  plot_init_lights = 1;
  mouse_help_per_wind(code);
  OGL_viewport(2, 0, 0, 0, 0, 1.0f, 0);

  mnw.win_dx = static_cast<float>(mnw.x_res_now);
  mnw.win_dy = static_cast<float>(mnw.y_res_now);
  mnw.is_modal = 0;
  float dx = 0, dy = 0;
  std::string title;
  if (MACIBM_window_size(code, &dx, &dy, &title)) {
    stls.win_name = title;
    mnw.win_dx = dx;
    mnw.win_dy = dy;
    mnw.is_modal = 1;
  }

  BTN_unfocus_any();
  mnw.menu_up = -1;
  mnw.top_win_now = mnw.top_win_cmnd = code;

  // Centred, whole pixels (half away from zero), never off the top-left.
  const float scale = mnw.xy_scale_now;
  mnw.win_x = std::max(0.0f, std::trunc(std::round((mnw.x_res_now - mnw.win_dx * scale) * 0.5f) / scale));
  mnw.win_y = std::max(0.0f, std::trunc(std::round((mnw.y_res_now - mnw.win_dy * scale) * 0.5f) / scale));
  rebase_mouse();

  mnw.now_dragging = 0;
  mnw.mouse_clicked = 0;
  mnw.mouse_wheel = 0;
  if (static_cast<int>(menu.size()) > kPopupMenu) {
    menu_struct& p = menu[kPopupMenu];
    p.menux1 = p.menuy1 = p.menux2 = p.menuy2 = -1;
  }
}

// ---------------------------------------------------------------------------
// Mouse presses and close boxes

int MACIBM_close_box_hit(float mx, float my, float win_dx, float win_dy) {
  if (my < win_dy - 20 || my > win_dy) return 0;
  if (mx >= 0 && mx <= 25) return 1;
  if (mx >= win_dx - 25 && mx <= win_dx) return 2;
  return 0;
}

void MACIBM_handleclick(int forced) {
  const int top = mnw.top_win_now;
  if (top != 0 && (top < 995 || top > 999)) {
    if (forced || MACIBM_close_box_hit(mnw.mx, mnw.my, mnw.win_dx, mnw.win_dy)) {
      BTN_zap_boxes(1);
      OGL_sbuff();
      return_hit = 0;
      MACIBM_startwind(0, forced);
    }
    return;
  }

  const int nmenus = std::min(static_cast<int>(menu.size()), kPopupMenu);
  if (top == 0) {
    for (int i = 0; i < nmenus; ++i) {
      const menu_struct& m = menu[i];
      if ((m.menu_prnt == -1 || m.menu_prnt == mnw.menu_up) && in_menu_bounds(m)) {
        mnw.menu_up = mnw.menu_up == i ? -1 : i;
        mnw.mouse_clicked = 0;
        return;
      }
    }
  }

  if (mnw.menu_up >= 0 && mnw.menu_up < static_cast<int>(menu.size())) {
    const std::vector<item_struct>& items = menu[mnw.menu_up].item;
    for (size_t i = 0; i < items.size(); ++i) {
      const item_struct& it = items[i];
      if (it.item_name.empty() || it.item_name[0] == '-' || it.item_name[0] == '=') continue;
      if (mnw.mx >= it.itemx1 && mnw.mx <= it.itemx2 && mnw.my >= it.itemy1 && mnw.my <= it.itemy2) {
        if (mnw.menu_up == kPopupMenu)
          popup_menu_choice = static_cast<int>(i);
        else if (g_app_handlemenu)
          g_app_handlemenu(it.item_code);
        break;
      }
    }
    mnw.menu_up = -1;
    mnw.mouse_clicked = 0;
  }
}

// ---------------------------------------------------------------------------
// Input events: what the window procedure does with each message

namespace {

void set_mouse(int x, int y) {
  g_abs_mouse_x = x;
  g_abs_mouse_y = y;
  g_have_abs_mouse = true;
  mnw.top_win_mouse = mnw.top_win_cmnd;
  rebase_mouse();
}

void handle_event(const plat_event& ev) {
  switch (ev.type) {
    case pev_quit:
      app_done = 1;
      break;
    case pev_expose:
      // Every pass redraws the whole screen, and the window layer has marked
      // the window damaged: this pass's swap shows it whole.
      break;
    case pev_key_down:
      keys.handle_key_raw(true, ev.key);
      mnw.key_hit = 1;
      mnw.any_key_is_down = 1;
      break;
    case pev_key_up:
      mnw.any_key_is_down = 0;
      keys.handle_key_raw(false, ev.key);
      break;
    case pev_mouse_move:
      set_mouse(ev.x, ev.y);
      break;
    case pev_mouse_down:
      if (ev.button != 1 && ev.button != 3) break;
      // The press carries its own position, so a press that arrives without
      // a movement before it is still placed right.
      set_mouse(ev.x, ev.y);
      mnw.mouse_clicked = 1;
      MACIBM_handleclick(0);
      break;
    case pev_mouse_up:
      if (ev.button == 1 || ev.button == 3) mnw.mouse_lifted = 1;
      break;
    case pev_wheel:
      mnw.mouse_wheel += ev.wheel;
      break;
    case pev_none:
      break;
  }
}

// An event left for the next pass (see drain).
plat_event g_held;
bool g_have_held = false;

// Handles every waiting event; true when at least one came. A press is
// hit-tested later in the pass at the pointer's place, so a movement or a
// press after it waits for the next pass: two quick clicks on a slow pass
// would otherwise test the first press at the second one's place.
bool drain() {
  bool any = false;
  plat_event ev;
  for (;;) {
    if (g_have_held) {
      ev = g_held;
      g_have_held = false;
    } else if (!plat_win_poll(&ev)) {
      break;
    }
    if (mnw.mouse_clicked && (ev.type == pev_mouse_move || ev.type == pev_mouse_down)) {
      g_held = ev;
      g_have_held = true;
      break;
    }
    any = true;
    handle_event(ev);
  }
  return any;
}

}  // namespace

// ---------------------------------------------------------------------------
// Hover help and pointer

bool help_box_place(const std::string& help, float still_seconds, float mx, float my, float win_x,
                    float win_y, int x_res, int y_res, help_box* out) {
  if (help.empty() || still_seconds < 1.0f) return false;
  out->h = std::clamp(static_cast<int>(help.size()) / 50 * 10 + 20, 60, 300);
  // Kept inside the client area; the low bound wins when the area is tiny.
  out->x = std::max(10 - win_x, std::min(mx - 415, x_res - 410 - win_x));
  out->y = std::max(10 - win_y, std::min(my + 15, y_res - 20 - win_y - out->h));
  return true;
}

void mouse_help_per_wind(int code) {
  help_box b;
  if (help_box_place(stls.help_message, xtim.real_time - mnw.m_move_time, mnw.mx, mnw.my, mnw.win_x,
                     mnw.win_y, mnw.x_res_now, mnw.y_res_now, &b)) {
    BTN_frame2(14, b.x - 10, b.y - 10, 420, static_cast<float>(b.h + 20), "");
    OGL_string(47, b.x + 3, b.y + b.h - 10, stls.help_message, 394, kCharsetProportional, kJustLeft);
  }
  stls.help_message.clear();

  if (code == 0 && xtim.real_time - mnw.m_move_time >= 10.0f) mnw.cursor_type = 2;
  if (code >= 993 && code <= 999) mnw.cursor_type = 0;
  plat_win_show_pointer(mnw.cursor_type <= 1);
}

// ---------------------------------------------------------------------------
// The pump pass

namespace {
bool g_not_idle = false;  // set by the application during the last pass
}  // namespace

void MACIBM_not_idle() {
  g_not_idle = true;
}

void MACIBM_event_proc() {
  // The pass's drawing is recorded and drawn at its swap (see OGL_begin_frame).
  struct frame_guard {
    frame_guard() { OGL_begin_frame(); }
    ~frame_guard() { OGL_end_frame(); }
  } frame;
  xtim.profile_chart("init", 0);
  return_hit = escape_hit = delete_hit = 0;
  mnw.mouse_clicked = mnw.mouse_lifted = mnw.key_hit = 0;

  if (mnw.top_win_now == -1) mnw.top_win_now = 0;
  if (!win_started) {
    win_started = 1;
    MACIBM_startwind(mnw.top_win_now, 0);
  }
  xtim.profile_chart("startwin", 0);

  int budget = (g_use_max_cpu && *g_use_max_cpu) || g_not_idle ? 0 : 1;
  if (mnw.top_win_now == kWinAlert) budget = 10;
  g_not_idle = false;

  xtim.profile_chart("event1", 0);
  const bool any = drain();
  xtim.profile_chart("event2", 0);
  if (!any && budget > 0) {
    plat_win_wait(budget * 16);
    xtim.profile_chart("event3", 0);
    drain();
    xtim.profile_chart("event4", 0);
  }

  xtim.profile_chart("event", 0);
  xtim.profile_chart("netlist", 0);
  if (mnw.top_win_now == 0) {
    THREAD_check_exception(1);
    texture_failure_alerts();
  }

  xtim.xtim_update();
  keys.run_repeat_keys();
  mnw.cursor_type = 0;

  if (mnw.menu_up >= 0) {
    const int nmenus = std::min(static_cast<int>(menu.size()), kPopupMenu);
    for (int i = 0; i < nmenus; ++i)
      if (menu[i].menu_prnt == -1 && i != mnw.menu_up && in_menu_bounds(menu[i])) MACIBM_handleclick(0);
  }

  xtim.profile_chart("menu", 0);
  BTN_begin_focus_ring();
  if (mnw.is_modal == 0) {
    if (g_app_update) g_app_update();
    xtim.first_miss_cycle = 0;
  }

  mouse_help_per_wind(mnw.top_win_now);
  standard_gui();
  OGL_sbuff();
  xtim.profile_chart("sbuff", 0);
  xtim.total_frames += 1;
  xtim.profile_chart("oglwork", 0);
  xtim.profile_chart("finish", 1);
}
