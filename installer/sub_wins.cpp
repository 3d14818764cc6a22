#include "installer/sub_wins.h"

#include "ui/butn.h"
#include "ui/colr.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"

namespace {
constexpr int kFontProportional = 100;
constexpr float kAtlasScale = 1.0f / kAtlasSheetTexels;
}  // namespace

float interface_rect_t(float t1, float dt, bool highlighted, bool mouse_inside, bool button_held) {
  if (!highlighted || !mouse_inside) return t1;
  return t1 - (button_held ? 2.0f : 1.0f) * (dt + 1.0f);
}

bool interface_rect_contains(float x1, float y1, float ds, float dt, float mx, float my) {
  return x1 <= mx && mx <= x1 + ds && y1 <= my && my <= y1 + dt;
}

void interface_icon_cell(int c, float* s, float* t) {
  *s = static_cast<float>(atlas_icon_s(c));
  *t = static_cast<float>(atlas_icon_t(c));
}

int interface_rect(float x1, float y1, float s1, float t1, float ds, float dt, int hi_lite, int col_code) {
  switch (col_code) {
    case 1:
      colr.assign(103, 0.8f, 1.0f, 0.8f);
      break;
    case 2:
      colr.assign(103, 1.0f, 0.8f, 0.8f);
      break;
    default:
      colr.assign(103, 1.0f, 1.0f, 1.0f);
  }
  const bool inside = interface_rect_contains(x1, y1, ds, dt, mnw.mx, mnw.my);
  t1 = interface_rect_t(t1, dt, hi_lite != 0, inside, mnw.now_dragging != 0);
  const float s2 = s1 + ds, t2 = t1 + dt;
  OGL_2dquad_box(kTexAtlas, 103, 1.0f, {x1, y1, ds, dt}, s1 * kAtlasScale, t1 * kAtlasScale, s2 * kAtlasScale,
                 t2 * kAtlasScale, 1, 5);
  return mnw.mouse_clicked && inside ? 1 : 0;
}

int interface_rect(const screen_image& r, int hi_lite, int col_code) {
  return interface_rect(r.x, r.y, static_cast<float>(r.cut.s), static_cast<float>(r.cut.t),
                        static_cast<float>(r.cut.ds), static_cast<float>(r.cut.dt), hi_lite, col_code);
}

void draw_background_picture() {
  OGL_2dquad_box(kTexBackground, 49, 1.0f, kBackgroundBox, 0, 0, 1, kBackgroundTopT, 1, 5);
}

int interface_icon(float x, float y, int c) {
  float s, t;
  interface_icon_cell(c, &s, &t);
  return interface_rect(x, y, s, t, kAtlasIconSize, kAtlasIconSize, 0, 0);
}

const char* licence_text() {
  return "SKYVANE 9 LICENCE AGREEMENT. Skyvane and its scenery, aircraft and documents are licensed, "
         "not sold, to you for use on your own computers. You may install Skyvane on any computer you "
         "use yourself and keep copies for backup. You may not sell, rent or redistribute Skyvane or any "
         "part of it without written permission. Skyvane is a simulation for entertainment and training "
         "practice: it is not for real-world navigation or flight planning. Skyvane is provided as is, "
         "without any warranty; to the extent the law allows, we are not liable for any loss arising from "
         "its use. Click Accept to agree to these terms and install, or Decline to leave your computer as "
         "it is.";
}

int handle_EULA() {
  int agreed = 0;
  MACIBM_startwind(kWinEula, 0);
  // Closing the program window ends the screen as a decline.
  while (mnw.top_win_now == kWinEula && !app_done) {
    OGL_plot_back_col();
    BTN_fillwin(1, 21);
    BTN_subwin(0, 16, -1, 50, -1, -1, "", nullptr, nullptr);
    // The licence text fills the panel above the two buttons.
    OGL_string(46, 24, mnw.win_dy - 48, licence_text(), mnw.win_dx - 48, kFontProportional, 0);
    if (interface_rect(kLicenceDeclineButton, 1, 1)) {
      agreed = 0;
      MACIBM_startwind(kWinMain, 0);
    }
    if (mnw.top_win_now == kWinEula && interface_rect(kLicenceAcceptButton, 1, 1)) {
      agreed = 1;
      MACIBM_startwind(kWinMain, 0);
    }
    MACIBM_event_proc();
  }
  return agreed;
}
