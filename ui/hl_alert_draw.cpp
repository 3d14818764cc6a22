// The drawn alert: window 995 with up to four lines and one button, run as a
// nested loop of the event pump inside the caller's pass.
#include "ui/butn.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"

namespace {

constexpr float kLineY[4] = {205, 165, 125, 85};
constexpr float kLocationY = 45;

}  // namespace

void MACIBM_drawn_alert(int return_win, const std::string lines[4], int type, const std::string& location) {
  // Whatever GL state the interrupted code left, the alert draws from scratch.
  OGL_reset_after_interruption();
  const float keep_mx = mnw.mx, keep_my = mnw.my;
  MACIBM_startwind(kWinAlert, 0);
  // A Return that was pressed before the alert appeared (in the caller's
  // pass) must not dismiss an alert the user has not seen.
  return_hit = 0;

  while (mnw.top_win_now == kWinAlert) {
    const float cx = mnw.win_dx * 0.5f;
    std::string label = stls.text[602].empty() ? std::string("OK") : stls.text[602];
    if (type == t_lang_choice) stls.win_name = "Language/";

    OGL_plot_back_col();
    BTN_fillwin(1, 21);
    BTN_subwin(0, 13, -1, 35, -1, -1, "", nullptr, nullptr);
    if (type != t_lang_choice) {
      for (int i = 0; i < 4; ++i)
        OGL_string(43, cx, kLineY[i], lines[i], 0.9f * mnw.win_dx, kCharsetProportional, kJustCentre);
      if (type == t_exit)
        OGL_string(43, cx, kLocationY, location, 0.9f * mnw.win_dx, kCharsetProportional, kJustCentre);
    } else {
      BTN_is_int(cx - 25, 180, &mnw.lang, 0, "|English");
      BTN_is_int(cx - 25, 160, &mnw.lang, 1, "|French");
      label = "Accept";
    }

    const int clicked = BTN_action(cx, 18, 0, 0, 1, label, "-");
    // Closing the window counts as the button, so the program can end
    // instead of waiting under an alert nobody can see.
    if (clicked || return_hit || app_done) {
      return_hit = 0;
      if (type == t_exit) break;
      MACIBM_startwind(return_win, 0);
      mnw.mx = keep_mx;
      mnw.my = keep_my;
    }
    if (mnw.top_win_now == kWinAlert) MACIBM_event_proc();
  }
}
