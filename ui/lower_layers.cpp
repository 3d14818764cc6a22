// What the layers below the UI framework take from it, filled in at start-up
// (MACIBM_wire_lower_layers), and what the framework takes from the program
// above it. The layer order, lowest first: platform < util < io, net < ui <
// prefs < installer; ui/ includes no prefs/ or installer/ header.
#include <cmath>
#include <string>
#include <vector>

#include "io/command_list.h"
#include "ui/butn.h"
#include "ui/colr.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"
#include "ui/hl_mnw.h"
#include "ui/keys.h"
#include "util/report.h"
#include "util/xtim.h"

namespace {
void (*g_save_settings)() = nullptr;  // handed down by the program

constexpr float kGestureWindow = 0.25f;  // seconds: click, double click, drag delay

// The frame clock's window hooks: which pass-length estimate applies, and the
// gestures of the pass (fields of mnw) with the pulsing colours.
int clock_estimate_in_use() {
  const int w = mnw.top_win_now;
  if (w == 0) return 0;
  if (mnw.is_modal && (w < 993 || w > 999)) return 1;
  return -1;
}

void clock_after_time(float real_time, float prev_mouse[2]) {
  mnw.delay_dragging = mnw.now_dragging && real_time >= mnw.m_down_time + kGestureWindow;
  mnw.mouse_double_clicked = mnw.mouse_clicked && real_time < mnw.m_down_time + kGestureWindow;
  mnw.mouse_did_click = mnw.mouse_lifted && real_time < mnw.m_down_time + kGestureWindow;
  if (mnw.mouse_clicked) {
    mnw.now_dragging = 1;
    mnw.m_move_time = mnw.m_down_time = real_time;
    BTN_unfocus_any();
  }
  if (mnw.mouse_lifted) {
    mnw.now_dragging = 0;
    mnw.delay_dragging = 0;
  }
  if (std::fabs(mnw.mx - prev_mouse[0]) > 0.5f || std::fabs(mnw.my - prev_mouse[1]) > 0.5f) {
    mnw.m_move_time = real_time;
    prev_mouse[0] = mnw.mx;
    prev_mouse[1] = mnw.my;
  }
  colr.update_pulse(real_time);
}

bool clock_tracking_cpu() {
  return mnw.track_cpu != 0;
}

void list_commands(const std::string& path, std::vector<std::string>& out) {
  cmnd.get_cmds_in_path(path, out);
}
}  // namespace

void MACIBM_wire_lower_layers() {
  report_set_handler(&MACIBM_alert);
  xtim_window_hooks hooks;
  hooks.estimate_in_use = clock_estimate_in_use;
  hooks.after_time = clock_after_time;
  hooks.tracking_cpu = clock_tracking_cpu;
  xtim_set_window_hooks(hooks);
  opensave_set_command_lister(list_commands);
}

void MACIBM_set_settings_saver(void (*save)()) {
  g_save_settings = save;
}

void MACIBM_save_settings() {
  if (g_save_settings) g_save_settings();
}
