// The drawn modified-file question in a real window (under Xvfb): each button
// answers its code, pressed through the event pump like a user's click.
#include <gtest/gtest.h>

#include <cstdlib>

#include "installer/ui_hooks.h"
#include "platform/window.h"
#include "support/test_support.h"
#include "ui/gl_fixture.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"

namespace {

plat_event mouse(plat_event_type t, int x, int y) {
  plat_event e;
  e.type = t;
  e.x = x;
  e.y = y;
  e.button = 1;
  return e;
}

}  // namespace

TEST(QuestionWindow, EachButtonAnswersItsCode) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (run under xvfb-run)";
  std::string why;
  ASSERT_TRUE(uitest::ensure_window(&why)) << why;
  alert_set_observer([](const alert_record& r) {
    ADD_FAILURE() << "alert: " << r.l1 << " / " << r.l2 << " " << r.file << " " << r.line;
  });
  const int was_inited = ogl_inited;
  ogl_inited = 1;
  MACIBM_set_app_update(nullptr);
  MACIBM_startwind(kWinMain, 0);

  // Window 997 is 700 x 146, centred in the 1024 x 768 client area; buttons
  // are centred on their (x, y) in the window's coordinates, y upwards.
  const int win_x = (1024 - 700) / 2, win_y = (768 - 146) / 2;
  struct button {
    int x, y, code;
    const char* what;
  };
  for (const button b :
       {button{96, 53, 1, "overwrite / delete"}, button{96, 28, 2, "keep"},
        button{308, 53, 4, "every file: overwrite / delete"}, button{308, 28, 5, "every file: keep"},
        button{584, 28, 3, "cancel the installation"}}) {
    for (int is_gone : {0, 1}) {
      const int cx = win_x + b.x, cy = 768 - (win_y + b.y);
      // The window sits at the screen's top-left corner: put the real pointer
      // where the click goes, so that its own motion events agree with the
      // injected press, and let the pump take them before the question.
      ASSERT_EQ(testsupport::run("xdotool mousemove " + std::to_string(cx) + " " + std::to_string(cy)), 0);
      for (int i = 0; i < 3; ++i) MACIBM_event_proc();
      plat_win_inject(mouse(pev_mouse_move, cx, cy));
      plat_win_inject(mouse(pev_mouse_down, cx, cy));
      plat_win_inject(mouse(pev_mouse_up, cx, cy));
      EXPECT_EQ(draw_select_alert("/home/u/Skyvane 9/data/file.txt", is_gone), b.code)
          << "the button " << b.what << " (is_gone " << is_gone << ")";
      EXPECT_EQ(mnw.top_win_now, kWinMain) << "an answer returns to the main window";
    }
  }
  ogl_inited = was_inited;
  alert_set_observer(nullptr);
}

TEST(QuestionWindow, ScanPanelDrawsInBothPhases) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (run under xvfb-run)";
  std::string why;
  ASSERT_TRUE(uitest::ensure_window(&why)) << why;
  int alerts = 0;
  alert_set_observer([&alerts](const alert_record& r) {
    ++alerts;
    ADD_FAILURE() << "alert: " << r.l1 << " (" << r.file << " " << r.line << ")";
  });
  const int was_inited = ogl_inited;
  ogl_inited = 1;
  MACIBM_startwind(kWinMain, 0);
  // The panel is drawn and shown at once from inside the long read and
  // examination loops; every phase and the degenerate range must draw.
  draw_dir_progress_bar(0, 250, 1000, 0, "Scanning directory text file...", "Aircraft/My Plane/a.acf");
  draw_dir_progress_bar(0, 10, 10, 1, "Scanning directory text file...", "/home/u/Skyvane 9/a.acf");
  draw_dir_progress_bar(5, 5, 5, 1, "", "");
  EXPECT_EQ(alerts, 0) << "the panel's calls are valid for the drawing layer";
  ogl_inited = was_inited;
  alert_set_observer(nullptr);
}
