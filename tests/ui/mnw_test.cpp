// Window layout, close boxes, the display-mode rule and the pump's
// per-pass input, driven through the headless window layer with injected
// events (no display needed).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "installer/model.h"
#include "platform/window.h"
#include "support/test_support.h"
#include "ui/hl_init.h"
#include "ui/hl_mnw.h"
#include "ui/tman.h"
#include "util/HL_THREAD.h"
#include "util/xtim.h"

namespace {

struct pass_seen {
  int clicked, lifted, key_hit, ret, esc, del, key_pressed;
  float mx, my;
};
std::vector<pass_seen> g_seen;
void record_pass() {
  g_seen.push_back({mnw.mouse_clicked, mnw.mouse_lifted, mnw.key_hit, return_hit, escape_hit, delete_hit,
                    mnw.key_pressed, mnw.mx, mnw.my});
}

plat_event mouse(plat_event_type t, int x, int y, int button = 1) {
  plat_event e;
  e.type = t;
  e.x = x;
  e.y = y;
  e.button = button;
  return e;
}

plat_event keyev(bool down, int vkey, int ch, int scan = 0) {
  plat_event e;
  e.type = down ? pev_key_down : pev_key_up;
  e.key.vkey = vkey;
  e.key.ch = ch;
  e.key.scan = scan;
  return e;
}

class PumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_win_set_headless(true);
    std::string why;
    ASSERT_TRUE(plat_win_create("Skyroot", 0, 0, 1024, 768, true, 32, &why)) << why;
    mnw = mnw_class{};
    stls.help_message.clear();
    win_started = 0;
    app_done = 0;
    stg.use_max_cpu = 0;
    g_seen.clear();
    MACIBM_set_app_update(record_pass);
    plat_event e;
    while (plat_win_poll(&e)) {
    }
  }
  void TearDown() override {
    MACIBM_set_app_update(nullptr);
    plat_win_destroy();
  }
};

TEST(WindowLayout, SizedCodesAreCentredAndModal) {
  plat_win_set_headless(true);
  mnw = mnw_class{};
  stls.text[600] = "Alert title";
  struct row {
    int code;
    float x, y, dx, dy;
    int modal;
    const char* title;
  };
  const row rows[] = {
      {0, 0, 0, 1024, 768, 0, nullptr},
      {1, 262, 234, 500, 300, 1, "EULA"},
      {2, 212, 194, 600, 380, 1, "Prefs"},
      {993, 232, 147, 561, 474, 1, "Livery"},  // 231.5 rounds up
      {995, 302, 259, 420, 250, 1, "Alert title"},
      {996, 362, 301, 300, 166, 1, ""},
      {997, 162, 311, 700, 146, 1, ""},
      {999, 347, 147, 330, 474, 1, ""},
      {-1, 0, 0, 1024, 768, 0, nullptr},
      {5, 0, 0, 1024, 768, 0, nullptr},
  };
  for (const row& r : rows) {
    stls.win_name = "unchanged";
    MACIBM_startwind(r.code, 0);
    EXPECT_EQ(mnw.top_win_now, r.code) << "code " << r.code;
    EXPECT_EQ(mnw.top_win_cmnd, r.code) << "code " << r.code << " receives the mouse";
    EXPECT_FLOAT_EQ(mnw.win_x, r.x) << "code " << r.code << ": win_x";
    EXPECT_FLOAT_EQ(mnw.win_y, r.y) << "code " << r.code << ": win_y";
    EXPECT_FLOAT_EQ(mnw.win_dx, r.dx) << "code " << r.code << ": width";
    EXPECT_FLOAT_EQ(mnw.win_dy, r.dy) << "code " << r.code << ": height";
    EXPECT_EQ(mnw.is_modal, r.modal) << "code " << r.code << ": modal";
    EXPECT_EQ(stls.win_name, r.title ? r.title : "unchanged") << "code " << r.code << ": title";
  }
  stls.text[600].clear();
}

TEST(WindowLayout, SubWindowNeverStartsOffTheTopLeft) {
  mnw = mnw_class{};
  mnw.x_res_now = 400;
  mnw.y_res_now = 200;
  MACIBM_startwind(993, 0);  // 561 x 474
  EXPECT_FLOAT_EQ(mnw.win_x, 0) << "a window wider than the client area starts at the left edge";
  EXPECT_FLOAT_EQ(mnw.win_y, 0) << "a taller one at the bottom";
  MACIBM_startwind(997, 0);  // 700 x 146
  EXPECT_FLOAT_EQ(mnw.win_y, 27) << "a direction with room is still centred";
}

TEST(WindowLayout, CloseBoxBandsAreInclusive) {
  const float dx = 500, dy = 300;
  EXPECT_EQ(MACIBM_close_box_hit(0, 280, dx, dy), 1) << "left box, bottom-left corner";
  EXPECT_EQ(MACIBM_close_box_hit(25, 300, dx, dy), 1) << "left box, top-right corner";
  EXPECT_EQ(MACIBM_close_box_hit(25.5f, 290, dx, dy), 0) << "just right of the left box";
  EXPECT_EQ(MACIBM_close_box_hit(-0.5f, 290, dx, dy), 0) << "just left of the window";
  EXPECT_EQ(MACIBM_close_box_hit(10, 279.5f, dx, dy), 0) << "just below the band";
  EXPECT_EQ(MACIBM_close_box_hit(10, 300.5f, dx, dy), 0) << "just above the window";
  EXPECT_EQ(MACIBM_close_box_hit(475, 280, dx, dy), 2) << "right box, left edge";
  EXPECT_EQ(MACIBM_close_box_hit(500, 300, dx, dy), 2) << "right box, right edge";
  EXPECT_EQ(MACIBM_close_box_hit(474.5f, 290, dx, dy), 0) << "just left of the right box";
  EXPECT_EQ(MACIBM_close_box_hit(250, 290, dx, dy), 0) << "between the boxes";
}

TEST(WindowLayout, CaptionRule) {
  EXPECT_TRUE(MACIBM_window_is_captioned(1024, 768, 1280, 1024))
      << "a 1280x1024 desktop gets a captioned window";
  EXPECT_FALSE(MACIBM_window_is_captioned(1024, 768, 1024, 768)) << "1024x768 gets a borderless one";
  EXPECT_FALSE(MACIBM_window_is_captioned(1024, 768, 1044, 1024)) << "20 px wider is not enough";
  EXPECT_TRUE(MACIBM_window_is_captioned(1024, 768, 1045, 789)) << "21 px larger in both directions is";
  EXPECT_FALSE(MACIBM_window_is_captioned(1024, 768, 1920, 780)) << "both directions must have room";
}

TEST(WindowLayout, StatusFraction) {
  float f = 0.5f;
  EXPECT_FLOAT_EQ(MACIBM_show_init_fraction(&f, 99), 0.5f) << "a given fraction wins";
  EXPECT_FLOAT_EQ(MACIBM_show_init_fraction(nullptr, 1), 0.02f) << "counter 1 is below the floor";
  EXPECT_FLOAT_EQ(MACIBM_show_init_fraction(nullptr, 40), 0.4f) << "counter/100 without a fraction";
  f = 3.0f;
  EXPECT_FLOAT_EQ(MACIBM_show_init_fraction(&f, 0), 1.0f) << "clamped to 1";
}

TEST(HoverHelp, ShownAfterOneStillSecondAndKeptOnScreen) {
  help_box b;
  EXPECT_FALSE(help_box_place("Help", 0.99f, 500, 400, 0, 0, 1024, 768, &b))
      << "not before the mouse rested 1 s";
  EXPECT_FALSE(help_box_place("", 5.0f, 500, 400, 0, 0, 1024, 768, &b)) << "nothing without a help text";
  ASSERT_TRUE(help_box_place("Help", 1.0f, 500, 400, 0, 0, 1024, 768, &b)) << "after 1 s it is shown";
  EXPECT_FLOAT_EQ(b.x, 85) << "415 px left of the mouse";
  EXPECT_FLOAT_EQ(b.y, 415) << "15 px above it";
  EXPECT_EQ(b.h, 60) << "short texts get the smallest box";
  ASSERT_TRUE(help_box_place(std::string(170, 'x'), 2.0f, 500, 400, 0, 0, 1024, 768, &b));
  EXPECT_EQ(b.h, 60) << "170 characters: 3*10+20 = 50, raised to 60";
  ASSERT_TRUE(help_box_place(std::string(1000, 'x'), 2.0f, 500, 400, 0, 0, 1024, 768, &b));
  EXPECT_EQ(b.h, 220) << "1000 characters: 20*10+20";
  ASSERT_TRUE(help_box_place(std::string(5000, 'x'), 2.0f, 500, 400, 0, 0, 1024, 768, &b));
  EXPECT_EQ(b.h, 300) << "at most 300";
  ASSERT_TRUE(help_box_place("Help", 2.0f, 100, 760, 0, 0, 1024, 768, &b));
  EXPECT_FLOAT_EQ(b.x, 10) << "never off the left edge";
  EXPECT_FLOAT_EQ(b.y, 768 - 20 - 60) << "never off the top";
  ASSERT_TRUE(help_box_place("Help", 2.0f, 480, 100, 262, 234, 1024, 768, &b));
  EXPECT_FLOAT_EQ(b.x, 65) << "in a sub-window, relative to its origin";
  EXPECT_FLOAT_EQ(b.y, 115);
  ASSERT_TRUE(help_box_place("Help", 2.0f, 10, -300, 262, 234, 1024, 768, &b));
  EXPECT_FLOAT_EQ(b.x, 10 - 262) << "the client area's left edge in sub-window coordinates";
  EXPECT_FLOAT_EQ(b.y, 10 - 234) << "and its bottom";
}

class DisplayModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_win_set_headless(true);
    MACIBM_reset_display_state();
    mnw = mnw_class{};
  }
  void TearDown() override {
    plat_restore_mode();
    plat_win_set_headless_desktop(1280, 1024);
  }
};

TEST_F(DisplayModeTest, LargeDesktopIsLeftAlone) {
  plat_win_set_headless_desktop(1280, 1024);
  MACIBM_setres(1);
  plat_display_mode m;
  EXPECT_FALSE(plat_mode_in_effect(&m)) << "1280x1024 needs no mode change";
  EXPECT_EQ(sres_orig, 0) << "and none is remembered";
  EXPECT_EQ(g_mon_x_res_now, 1280) << "the desktop size is kept";
  EXPECT_EQ(mnw.x_res_now, 1024) << "the client area is the requested size";
  EXPECT_EQ(mnw.y_res_now, 768);
}

TEST_F(DisplayModeTest, SmallDesktopIsSwitchedAndRestored) {
  plat_win_set_headless_desktop(800, 600);
  MACIBM_setres(1);
  plat_display_mode m;
  ASSERT_TRUE(plat_mode_in_effect(&m)) << "an 800x600 desktop is switched";
  EXPECT_EQ(m.w, 1024) << "to 1024 wide";
  EXPECT_EQ(m.h, 768) << "768 high";
  EXPECT_EQ(m.bpp, 32) << "at 32 bits";
  EXPECT_EQ(g_mon_x_res_now, 1024) << "the monitor size follows the switch";
  EXPECT_FALSE(MACIBM_window_is_captioned(mnw.x_res_now, mnw.y_res_now, g_mon_x_res_now, g_mon_y_res_now))
      << "and the window covers the screen without a caption";
  EXPECT_EQ(hres_orig, 800) << "the start-up mode is remembered";
  EXPECT_EQ(sres_orig, 1) << "with the need to restore it";
  MACIBM_setres(0);
  EXPECT_FALSE(plat_mode_in_effect(&m)) << "shut-down restores the desktop's mode";
  EXPECT_EQ(g_mon_x_res_now, 800) << "and its size";
}

TEST_F(PumpTest, ClickIsSeenInExactlyOnePass) {
  plat_win_inject(mouse(pev_mouse_move, 100, 700));
  plat_win_inject(mouse(pev_mouse_down, 100, 700));
  MACIBM_event_proc();
  plat_win_inject(mouse(pev_mouse_up, 100, 700));
  MACIBM_event_proc();
  MACIBM_event_proc();
  ASSERT_EQ(g_seen.size(), 3u) << "APP_update runs once per pass on the main screen";
  EXPECT_EQ(g_seen[0].clicked, 1) << "the press is seen in its pass";
  EXPECT_FLOAT_EQ(g_seen[0].mx, 100) << "x from the left edge";
  EXPECT_FLOAT_EQ(g_seen[0].my, 68) << "y counted up from the bottom (768 - 700)";
  EXPECT_EQ(g_seen[1].clicked, 0) << "and only there";
  EXPECT_EQ(g_seen[1].lifted, 1) << "the release in its own pass";
  EXPECT_EQ(g_seen[2].lifted, 0) << "flags are cleared at the start of each pass";
  EXPECT_EQ(mnw.now_dragging, 0) << "released";
}

TEST_F(PumpTest, PressWithoutMovementUsesItsOwnPosition) {
  plat_win_inject(mouse(pev_mouse_down, 300, 400));
  MACIBM_event_proc();
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_FLOAT_EQ(g_seen[0].mx, 300) << "the press is placed where it happened";
  EXPECT_FLOAT_EQ(g_seen[0].my, 368) << "even with no movement before it";
}

TEST_F(PumpTest, KeysSetTheirFlagsForOnePass) {
  plat_win_inject(keyev(true, 13, 13, 0x1C));
  plat_win_inject(keyev(false, 13, 13, 0x1C));
  MACIBM_event_proc();
  plat_win_inject(keyev(true, 27, 27, 1));
  MACIBM_event_proc();
  plat_win_inject(keyev(true, 46, 0));
  MACIBM_event_proc();
  MACIBM_event_proc();
  ASSERT_EQ(g_seen.size(), 4u);
  EXPECT_EQ(g_seen[0].ret, 1) << "Return";
  EXPECT_EQ(g_seen[0].key_hit, 1) << "a key went down";
  EXPECT_EQ(g_seen[1].ret, 0) << "return_hit lasts one pass";
  EXPECT_EQ(g_seen[1].esc, 1) << "Escape";
  EXPECT_EQ(g_seen[2].del, 1) << "Delete";
  EXPECT_EQ(g_seen[3].key_hit + g_seen[3].ret + g_seen[3].esc + g_seen[3].del, 0)
      << "a quiet pass has no flags";
}

TEST_F(PumpTest, WheelAccumulatesUntilTheNextLayout) {
  plat_event w;
  w.type = pev_wheel;
  w.wheel = 2;
  plat_win_inject(w);
  MACIBM_event_proc();
  w.wheel = -1;
  plat_win_inject(w);
  MACIBM_event_proc();
  EXPECT_EQ(mnw.mouse_wheel, 1) << "notches add up across passes";
  MACIBM_startwind(0, 0);
  EXPECT_EQ(mnw.mouse_wheel, 0) << "a window layout starts again from 0";
}

TEST_F(PumpTest, ModalWindowStopsTheApplicationUpdate) {
  MACIBM_event_proc();
  MACIBM_startwind(1, 0);
  MACIBM_event_proc();
  MACIBM_event_proc();
  EXPECT_EQ(g_seen.size(), 1u) << "no APP_update while the licence window is up";
  MACIBM_startwind(0, 0);
  MACIBM_event_proc();
  EXPECT_EQ(g_seen.size(), 2u) << "back on the main screen it runs again";
}

TEST_F(PumpTest, CloseBoxClosesTheLicenceWindow) {
  MACIBM_event_proc();
  MACIBM_startwind(1, 0);
  // The licence window is at (262, 234) size 500 x 300: its top-left box
  // spans client x 262..287 and y (from the bottom) 514..534.
  plat_win_inject(mouse(pev_mouse_down, 300, 768 - 520));
  MACIBM_event_proc();
  EXPECT_EQ(mnw.top_win_now, 1) << "a press between the boxes leaves the window up";
  plat_win_inject(mouse(pev_mouse_down, 270, 768 - 530));
  MACIBM_event_proc();
  EXPECT_EQ(mnw.top_win_now, 0) << "a press in the left box returns to the main screen";

  MACIBM_startwind(1, 0);
  plat_win_inject(mouse(pev_mouse_down, 262 + 490, 768 - 533));
  MACIBM_event_proc();
  EXPECT_EQ(mnw.top_win_now, 0) << "so does the right box";

  MACIBM_startwind(995, 0);
  plat_win_inject(mouse(pev_mouse_down, 302 + 5, 768 - (259 + 245)));
  MACIBM_event_proc();
  EXPECT_EQ(mnw.top_win_now, 995) << "the alert has no close boxes";
}

TEST_F(PumpTest, ClosingTheWindowEndsTheMainLoop) {
  plat_event q;
  q.type = pev_quit;
  plat_win_inject(q);
  int passes = 0;
  while (!app_done && passes < 5) {
    MACIBM_event_proc();
    ++passes;
  }
  EXPECT_EQ(app_done, 1) << "the close message sets app_done";
  EXPECT_EQ(passes, 1) << "the loop ends after the current pass";
}

TEST_F(PumpTest, HelpMessageLivesOnePass) {
  MACIBM_event_proc();
  stls.help_message = "Some help";
  MACIBM_event_proc();
  EXPECT_TRUE(stls.help_message.empty()) << "the pump empties the help text after each pass";
}

TEST_F(PumpTest, PointerHidesAfterTenStillSecondsOnTheMainScreen) {
  uint64_t now = 1'000'000;
  xtim_set_clock([&now] { return now; });
  plat_win_inject(mouse(pev_mouse_move, 10, 10));
  MACIBM_event_proc();
  now += 9'000'000;
  MACIBM_event_proc();
  EXPECT_EQ(mnw.cursor_type, 0) << "9 s still: pointer shown";
  now += 2'000'000;
  MACIBM_event_proc();
  EXPECT_EQ(mnw.cursor_type, 2) << "11 s still: pointer hidden";
  plat_win_inject(mouse(pev_mouse_move, 20, 20));
  now += 10'000;
  MACIBM_event_proc();
  EXPECT_EQ(mnw.cursor_type, 0) << "a movement shows it again";
  MACIBM_startwind(995, 0);
  now += 20'000'000;
  MACIBM_event_proc();
  EXPECT_EQ(mnw.cursor_type, 0) << "never hidden under the alert";
  xtim_set_clock(nullptr);
}

TEST_F(PumpTest, TextureFailureAlertsShowOnce) {
  std::vector<alert_record> seen;
  alert_set_observer([&seen](const alert_record& r) { seen.push_back(r); });
  tman.instl_load_fail = status_fail;
  MACIBM_event_proc();
  MACIBM_event_proc();
  alert_set_observer(nullptr);
  ASSERT_EQ(seen.size(), 1u) << "a failure flag shows one alert, once";
  EXPECT_EQ(seen[0].l1, "Some textures could not be loaded.");
  EXPECT_EQ(
      seen[0].l2,
      "This may be an installation problem.  Run the installer/updater again to get these missing textures.");
  EXPECT_EQ(seen[0].l3, "Please see the log.txt file for a detailed list of missing files.");
  EXPECT_EQ(seen[0].type, t_alert) << "a warning, the program goes on";
  tman.instl_load_fail = status_okay;
}

TEST(StartUp, GraphicsFailureIsAFatalAlertWithTheGraphicsFailureText) {
  plat_win_set_headless(true);
  plat_win_set_headless_create_fails(true);
  MACIBM_reset_display_state();
  std::vector<alert_record> seen;
  alert_set_observer([&seen](const alert_record& r) { seen.push_back(r); });
  const char* argv[] = {"skyvane-installer"};
  EXPECT_THROW(MACIBM_init(1, argv), testsupport::fatal_alert_exit)
      << "the program ends when GL cannot start";
  alert_set_observer(nullptr);
  plat_win_set_headless_create_fails(false);
  ASSERT_EQ(seen.size(), 1u) << "one alert";
  EXPECT_EQ(seen[0].type, t_exit) << "a fatal one";
  EXPECT_EQ(seen[0].l1,
            "I could not set up the graphics for Skyvane! I hope your monitor is at 1024x768 or higher! It "
            "must be!");
  EXPECT_EQ(seen[0].l2,
            "You do not meet the system requirements or you do not have OpenGL drivers or you entered a bad "
            "resolution in Skyvane!");
  EXPECT_EQ(
      seen[0].l3,
      "You need at least 256 meg of RAM, 16 meg of VRAM, and OpenGl drivers for your 3-D accelerator card!");
  EXPECT_EQ(
      seen[0].l4,
      "If you reset the resolution, you can try launching Skyvane again, since I am resetting Skyvane to "
      "default resolution now.");
  EXPECT_EQ(ogl_inited, 0) << "GL was never up, so the alert is a message box, not drawn";
  for (float r : randrat) {
    ASSERT_GE(r, 0.0f) << "the random table holds fractions";
    ASSERT_LE(r, 0.9999f) << "below 1, whatever the C library's generator range";
  }
  EXPECT_NEAR(lookup_sin[90], 1.0f, 1e-6) << "sine of 90 degrees";
  EXPECT_NEAR(lookup_cos[180], -1.0f, 1e-6) << "cosine of 180 degrees";
  EXPECT_FALSE(plat_win_exists()) << "nothing is left open";
}

int g_menu_item = -1;
void record_menu(int item_code) {
  g_menu_item = item_code;
}

TEST_F(PumpTest, MenusOpenOnAClickAndChooseAnItem) {
  MACIBM_clear_menus(1);
  ASSERT_EQ(menu.size(), 1520u) << "1520 empty menus";
  MACIBM_set_app_handlemenu(record_menu);
  MACIBM_event_proc();
  mnw.mx = mnw.my = 0;
  mnw.mouse_clicked = 1;
  MACIBM_handleclick(0);
  EXPECT_EQ(mnw.menu_up, -1) << "empty menus never open, even at their (0, 0) bounds";

  menu[3].menu_name = "File";
  menu[3].menux1 = 10, menu[3].menuy1 = 740, menu[3].menux2 = 60, menu[3].menuy2 = 760;
  item_struct sep{"-", 1}, quit{"Quit", 77};
  sep.itemx1 = quit.itemx1 = 10;
  sep.itemx2 = quit.itemx2 = 100;
  sep.itemy1 = quit.itemy1 = 700;
  sep.itemy2 = quit.itemy2 = 720;
  menu[3].item = {sep, quit};
  plat_win_inject(mouse(pev_mouse_down, 20, 768 - 750));
  MACIBM_event_proc();
  EXPECT_EQ(mnw.menu_up, 3) << "a click on a menu title opens it";
  EXPECT_EQ(g_seen.back().clicked, 0) << "and is used up";
  plat_win_inject(mouse(pev_mouse_down, 20, 768 - 710));
  MACIBM_event_proc();
  EXPECT_EQ(g_menu_item, 77) << "the first non-separator item under the mouse is chosen";
  EXPECT_EQ(mnw.menu_up, -1) << "choosing closes the menu";
  MACIBM_set_app_handlemenu(nullptr);
  MACIBM_clear_menus(1);
}

TEST_F(PumpTest, ThreadWarningWaitsForTheMainScreen) {
  THREAD_init();
  std::vector<alert_record> seen;
  alert_set_observer([&seen](const alert_record& r) { seen.push_back(r); });
  MACIBM_event_proc();
  MACIBM_startwind(1, 0);
  std::thread([] { MACIBM_alert(0, "From a worker.", "", "", "", t_alert, "mnw_test", 1); }).join();
  MACIBM_event_proc();
  EXPECT_TRUE(seen.empty()) << "a report from another thread is not shown over the licence window";
  MACIBM_startwind(0, 0);
  MACIBM_event_proc();
  alert_set_observer(nullptr);
  ASSERT_EQ(seen.size(), 1u) << "it is shown once the main screen is current again";
  EXPECT_EQ(seen[0].l1, "From a worker.");
  THREAD_shutdown();
}

}  // namespace
