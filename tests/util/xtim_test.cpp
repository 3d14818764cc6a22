// The frame clock driven by a hand-set microsecond counter: time, interval
// flags, the smoothed pass length and the mouse gestures of a pass.
#include "util/xtim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "ui/butn.h"
#include "ui/hl_mnw.h"

namespace {

uint64_t g_now_us = 0;

class XtimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now_us = 5'000'000;  // the counter does not start at 0
    xtim_set_clock([] { return g_now_us; });
    mnw = mnw_class{};
    mnw.top_win_now = 0;
    mnw.mx = mnw.my = 100;
  }
  void TearDown() override { xtim_set_clock(nullptr); }

  // One pass `dt` seconds after the previous one.
  static void pass(double dt) {
    g_now_us += static_cast<uint64_t>(std::llround(dt * 1e6));
    xtim.xtim_update();
  }
  static void press() {
    mnw.mouse_clicked = 1;
    mnw.mouse_lifted = 0;
  }
  static void lift() {
    mnw.mouse_clicked = 0;
    mnw.mouse_lifted = 1;
  }
  static void quiet() { mnw.mouse_clicked = mnw.mouse_lifted = 0; }
};

TEST_F(XtimTest, TimeCountsFromTheFirstReading) {
  xtim.xtim_update();
  EXPECT_FLOAT_EQ(xtim.real_time, 0.0f) << "the first pass is time 0, whatever the counter reads";
  pass(1.5);
  EXPECT_NEAR(xtim.real_time, 1.5f, 1e-6) << "real_time is seconds since the first reading";
  g_now_us += 250'000;
  xtim.advance_clock();
  EXPECT_NEAR(xtim.real_time, 1.75f, 1e-6) << "advance_clock reads the same clock for windowless loops";
}

TEST_F(XtimTest, IntervalFlagsFireAtMostOncePerInterval) {
  xtim.xtim_update();
  EXPECT_EQ(xtim.act_puff10, 0) << "time 0 is not more than 0.1 s after the start";
  int sets = 0;
  float first = -1;
  // Passes every 10 ms for 1 s.
  for (int i = 0; i < 100; ++i) {
    pass(0.01);
    if (xtim.act_puff10) {
      if (first < 0) first = xtim.real_time;
      ++sets;
    }
  }
  EXPECT_GT(first, 0.1f) << "act_puff10 is first set on the first pass past 0.1 s";
  EXPECT_LE(first, 0.111f) << "and not later than that pass";
  EXPECT_GE(sets, 8) << "about ten times a second";
  EXPECT_LE(sets, 10) << "never more often than every 0.1 s however fast the passes run";

  // A long pass sets every flag whose interval it spans.
  pass(20.0);
  EXPECT_EQ(xtim.act_puff01, 1) << "10 s flag after a 20 s gap";
  EXPECT_EQ(xtim.act_puff40, 1) << "0.025 s flag after a 20 s gap";
  pass(0.01);
  EXPECT_EQ(xtim.act_puff01, 0) << "flags last one pass";
  EXPECT_EQ(xtim.act_puff40, 0) << "0.01 s is less than the 0.025 s interval";
}

TEST_F(XtimTest, PassLengthEstimateIsDampedAndBounded) {
  xtim.xtim_update();  // first pass: measures against time 0
  float prev = xtim_estimate_main();
  for (int block = 0; block < 20; ++block) {
    for (int i = 0; i < 10; ++i) pass(0.1);
    const float est = xtim_estimate_main();
    EXPECT_LE(est, prev * std::pow(1.5f, 0.25f) * 1.0001f) << "at most a factor 1.5^0.25 per ten passes";
    EXPECT_LE(est, 0.0526316f) << "never above the upper bound";
    EXPECT_FLOAT_EQ(xtim.prd_sim, est) << "prd_sim follows the estimate in use";
    EXPECT_FLOAT_EQ(xtim.prd_act, est) << "prd_act too";
    prev = est;
  }
  EXPECT_NEAR(xtim_estimate_main(), 0.0526316f, 1e-6) << "a slow run ends at the bound";

  for (int i = 0; i < 400; ++i) pass(0.0001);
  EXPECT_NEAR(xtim_estimate_main(), 0.0010001f, 1e-7) << "a very fast run ends at the lower bound";
}

TEST_F(XtimTest, AlertAndPromptWindowsFreezeTheEstimate) {
  xtim.xtim_update();
  for (int i = 0; i < 30; ++i) pass(0.05);
  const float main_est = xtim.prd_sim;
  mnw.top_win_now = 995;
  mnw.is_modal = 1;
  for (int i = 0; i < 30; ++i) pass(0.001);
  EXPECT_FLOAT_EQ(xtim.prd_sim, main_est) << "under the alert no estimate applies; prd_sim keeps its value";
  EXPECT_FLOAT_EQ(xtim_estimate_main(), main_est) << "the main estimate is not touched";

  mnw.top_win_now = 1;  // the licence window: the sub-window estimate
  pass(0.001);
  EXPECT_FLOAT_EQ(xtim.prd_sim, xtim_estimate_sub()) << "a sized sub-window uses its own estimate";
  EXPECT_NE(xtim_estimate_sub(), main_est) << "which is separate from the main one";
}

TEST_F(XtimTest, ClickNeedsReleaseWithinAQuarterSecond) {
  xtim.xtim_update();
  pass(1.0);
  press();
  pass(0.01);
  EXPECT_EQ(mnw.now_dragging, 1) << "a press starts a drag";
  quiet();
  pass(0.19);
  lift();
  pass(0.01);
  EXPECT_EQ(mnw.mouse_did_click, 1) << "release 0.2 s after the press is a click";
  EXPECT_EQ(mnw.now_dragging, 0) << "release ends the drag";

  quiet();
  pass(1.0);
  press();
  pass(0.01);
  quiet();
  pass(0.24);
  EXPECT_EQ(mnw.delay_dragging, 0) << "held 0.24 s is not yet a delayed drag";
  pass(0.02);
  EXPECT_EQ(mnw.delay_dragging, 1) << "held past 0.25 s is a delayed drag";
  lift();
  pass(0.0);
  EXPECT_EQ(mnw.mouse_did_click, 0) << "release 0.26 s after the press is no click";
  EXPECT_EQ(mnw.delay_dragging, 0) << "release clears the delayed drag";
}

TEST_F(XtimTest, DoubleClickIsTwoPressesWithinAQuarterSecond) {
  xtim.xtim_update();
  pass(1.0);
  press();
  pass(0.01);
  EXPECT_EQ(mnw.mouse_double_clicked, 0) << "the first press of the run is single";
  EXPECT_FLOAT_EQ(mnw.m_down_time, xtim.real_time) << "the press time is remembered";
  lift();
  pass(0.1);
  press();
  pass(0.1);
  EXPECT_EQ(mnw.mouse_double_clicked, 1) << "second press 0.2 s after the first";
  lift();
  pass(0.1);
  quiet();
  pass(0.5);
  press();
  pass(0.01);
  EXPECT_EQ(mnw.mouse_double_clicked, 0) << "a press long after the last is single";
}

TEST_F(XtimTest, FirstPressAfterStartIsNotADoubleClick) {
  xtim.xtim_update();
  press();
  pass(0.05);
  EXPECT_EQ(mnw.mouse_double_clicked, 0) << "no earlier press exists, whatever the time since start";
}

TEST_F(XtimTest, HalfPixelIsNoMovement) {
  xtim.xtim_update();
  pass(0.1);
  const float moved_at = mnw.m_move_time;
  mnw.mx += 0.5f;
  pass(0.1);
  EXPECT_FLOAT_EQ(mnw.m_move_time, moved_at) << "half a pixel does not count as movement";
  mnw.mx += 1.0f;
  pass(0.1);
  EXPECT_FLOAT_EQ(mnw.m_move_time, xtim.real_time) << "a whole pixel does";
}

TEST_F(XtimTest, PressDropsKeyboardFocus) {
  xtim.xtim_update();
  focus_id = 7;
  press();
  pass(0.01);
  EXPECT_EQ(focus_id, 0) << "a press anywhere drops the keyboard focus";
}

}  // namespace
