// The drawn forms of the scan progress panel and the modified-file question:
// the defaults behind dir_progress_bar and select_alert (installer/ui_hooks.h).
// Both need the GL window; without it the panel draws nothing and the
// question cannot be asked, which counts as cancelling the installation.
#include <string>

#include "installer/sub_wins.h"
#include "installer/ui_hooks.h"
#include "ui/butn.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"

namespace {

constexpr float kPanelDx = 512.0f, kPanelDy = 138.0f;
constexpr float kBarInset = 30.0f;
// Text colours of the panel and of the question (colour-table entries), in
// the interface font, the only one the installer uses.
constexpr int kPanelCol = 49;
constexpr int kQuestionCol = 43;
constexpr int kFont = 100;

}  // namespace

void draw_dir_progress_bar(float d1, float d, float d2, int call_type, const std::string& message1,
                           const std::string& rel_path_exp) {
  if (!ogl_inited) return;
  draw_background_picture();
  const float x1 = mnw.x_ctr - kPanelDx / 2.0f, y1 = mnw.y_ctr - kPanelDy / 2.0f;
  // The dark status panel: its text colour 49 (white) reads on it.
  BTN_frame2(15, x1, y1, kPanelDx, kPanelDy, "");

  const float track = kPanelDx - 2.0f * kBarInset;
  const float fill = track * dir_progress_fraction(d1, d, d2);
  const float bar_y = y1 + 30.0f;
  BTN_frame1(4, mnw.x_ctr, bar_y, track, 0);
  BTN_frame1(5, x1 + kBarInset + fill / 2.0f, bar_y, fill, 0);

  const float tx = x1 + kBarInset, ty = y1 + kPanelDy - 35.0f;
  OGL_string(kPanelCol, tx, ty, message1, 9999, kFont, 0);
  OGL_string(
      kPanelCol, tx, ty - 20.0f,
      call_type == 0 ? "Currently SCANNING the directory text file." : "Currently EXAMINING the hard disk.",
      9999, kFont, 0);
  OGL_string(kPanelCol, tx, ty - 40.0f, rel_path_exp, 9999, kFont, 0);
  // The caller is inside a long loop that draws nothing else: show it now.
  OGL_sbuff();
}

int draw_select_alert(const std::string& dest_path_exp, int is_gone) {
  if (!ogl_inited) return 3;
  MACIBM_startwind(kWinFilePrompt, 0);
  // Closing the program window counts as cancelling, like closing the question.
  while (mnw.top_win_now == kWinFilePrompt && !app_done) {
    OGL_plot_back_col();
    BTN_fillwin(1, 21);
    const float w = mnw.win_dx - 40.0f;
    OGL_string(kQuestionCol, 20, 100, is_gone ? "I am about to DELETE:" : "I am about to install:", w, kFont,
               0);
    OGL_string(kQuestionCol, 20, 90, dest_path_exp, w, kFont, 0);
    OGL_string(kQuestionCol, 20, 80,
               is_gone
                   ? "because we no longer use this file, but it appears you have modified it. What to do?"
                   : "but it appears you have modified this file. What to do?",
               w, kFont, 0);
    int reply = 0;
    if (BTN_action(96, 53, 160, 0, 1, is_gone ? "DELETE THE OLD FILE" : "OVERWRITE THE OLD FILE", "-"))
      reply = 1;
    if (BTN_action(96, 28, 160, 0, 1, "KEEP THE OLD FILE", "-") && !reply) reply = 2;
    if (BTN_action(308, 53, 260, 0, 1,
                   is_gone ? "DELETE EVERY OLD FILE IN THIS DIRECTORY"
                           : "OVERWRITE EVERY OLD FILE IN THIS DIRECTORY",
                   "-") &&
        !reply)
      reply = 4;
    if (BTN_action(308, 28, 260, 0, 1, "KEEP EVERY OLD FILE IN THIS DIRECTORY", "-") && !reply) reply = 5;
    if (BTN_action(584, 28, 200, 0, 1, "CANCEL THE WHOLE INSTALLATION!", "-") && !reply) reply = 3;
    if (reply) {
      MACIBM_startwind(kWinMain, 0);
      return reply;
    }
    MACIBM_event_proc();
  }
  return 3;  // the question window was closed
}
