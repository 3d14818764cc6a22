// Widget geometry and logic without pixels: bar and frame pieces, hit boxes
// at their edges, label syntax and splitting, and the keyboard-focus ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ui/butn.h"
#include "ui/hl_mnw.h"
#include "ui/tman.h"

namespace {

// Sum of the pieces' areas, and whether the pieces tile the box exactly.
float area(const std::vector<btn_quad>& q) {
  float a = 0;
  for (const auto& p : q) a += (p.x2 - p.x1) * (p.y2 - p.y1);
  return a;
}

TEST(ButtonBar, PushButtonSizedToItsLabel) {
  EXPECT_EQ(BTN_action_width(0, "OK"), 37) << "9 + 7 + 21";
  // "Left" 20 + "|" 3 + "Right" 28 + 21: the whole label, not only the part shown.
  EXPECT_EQ(BTN_action_width(-1, "Left|Right"), 72) << "the automatic width measures the whole label";
  EXPECT_EQ(BTN_action_width(120, "OK"), 120) << "a given width is kept";
  std::vector<btn_quad> q;
  ASSERT_TRUE(BTN_frame1_quads(2, 100, 50, 37, &q));
  ASSERT_FALSE(q.empty());
  EXPECT_EQ(q.front().x1, 81) << "37 rounds to an even 38: the bar spans 81..119";
  EXPECT_EQ(q.back().x2, 119);
  EXPECT_EQ(q.front().y1, 37) << "a 26-texel strip spans y - 13 .. y + 13";
  EXPECT_EQ(q.front().y2, 63);
}

TEST(ButtonBar, PiecesTileTheBarOneToOne) {
  for (int style : {0, 1, 2, 3, 4, 5, 7, 8, 9, 10}) {
    for (float width : {8.0f, 30.0f, 61.0f, 200.0f, 1023.0f}) {
      std::vector<btn_quad> q;
      ASSERT_TRUE(BTN_frame1_quads(style, 300.4f, 100, width, &q)) << "style " << style;
      std::sort(q.begin(), q.end(), [](const btn_quad& a, const btn_quad& b) { return a.x1 < b.x1; });
      const float expect_w = 2 * std::round(width / 2) + ((style == 9 || style == 10) ? 4 : 0);
      EXPECT_FLOAT_EQ(q.back().x2 - q.front().x1, expect_w) << "style " << style << " width " << width;
      EXPECT_FLOAT_EQ((q.front().x1 + q.back().x2) / 2, 300) << "centred on x rounded to a whole pixel";
      for (size_t i = 1; i < q.size(); ++i) {
        EXPECT_FLOAT_EQ(q[i].x1, q[i - 1].x2) << "no gap or overlap between pieces, style " << style;
      }
      for (const auto& p : q) {
        EXPECT_NEAR((p.s2 - p.s1) * 512, p.x2 - p.x1, 1e-3) << "pieces are copied 1:1, never stretched";
        EXPECT_NEAR((p.t2 - p.t1) * 512, p.y2 - p.y1, 1e-3) << "nothing is scaled vertically";
      }
    }
  }
}

TEST(ButtonBar, StyleOffsets) {
  std::vector<btn_quad> q;
  ASSERT_TRUE(BTN_frame1_quads(0, 100, 100, 100, &q));
  EXPECT_EQ(q.front().y1 + 13, 97) << "styles 0 and 1 are drawn 3 px lower";
  ASSERT_TRUE(BTN_frame1_quads(4, 100, 100, 100, &q));
  EXPECT_EQ(q.front().y2 - q.front().y1, 16) << "progress pieces are 16 px high";
  EXPECT_EQ(q.front().s1 * 512, 112) << "style 4 strip starts at texel 112";
  ASSERT_TRUE(BTN_frame1_quads(10, 100, 100, 100, &q));
  EXPECT_EQ(q.back().x2 - q.front().x1, 104) << "style 10 is 4 px wider";
  EXPECT_FALSE(BTN_frame1_quads(6, 100, 100, 100, &q)) << "style 6 has no bar";
  EXPECT_FALSE(BTN_frame1_quads(11, 100, 100, 100, &q)) << "frame styles are not bars";
  EXPECT_FALSE(BTN_frame1_quads(-1, 100, 100, 100, &q));
}

TEST(ButtonFrame, NineSliceCoversTheFramedAreaExactly) {
  for (int style = 11; style <= 20; ++style) {
    for (auto [dx, dy] : {std::pair{420.0f, 250.0f}, std::pair{37.0f, 21.0f}, std::pair{3.0f, 2.0f}}) {
      std::vector<btn_quad> q;
      int tex = 0;
      ASSERT_TRUE(BTN_frame2_quads(style, 10, 20, dx, dy, &q, &tex)) << "style " << style;
      EXPECT_EQ(tex, style == 20 ? kTexInstAtlas : kTexInterface) << "style 20 is cut from the atlas";
      float left = 1e9, right = -1e9, bottom = 1e9, top = -1e9;
      for (const auto& p : q) {
        left = std::min(left, p.x1);
        right = std::max(right, p.x2);
        bottom = std::min(bottom, p.y1);
        top = std::max(top, p.y2);
      }
      const float w = right - left, h = top - bottom;
      EXPECT_NEAR(area(q), w * h, w * h * 1e-5f)
          << "no gaps and no overlaps, style " << style << " " << dx << "x" << dy;
      if (style <= 15) {
        EXPECT_EQ(left, 10 - 9) << "9 px to the left";
        EXPECT_EQ(bottom, 20 - 14) << "14 px below";
        EXPECT_EQ(top, 20 + dy + 4) << "4 px above";
        EXPECT_EQ(right, 10 + dx + 9);
      }
      const float texels = style == 20 ? 1024 : 512;
      for (const auto& p : q) {
        EXPECT_NEAR((p.s2 - p.s1) * texels, p.x2 - p.x1, 1e-2) << "frame pieces are copied 1:1";
        EXPECT_NEAR((p.t2 - p.t1) * texels, p.y2 - p.y1, 1e-2);
      }
    }
  }
}

TEST(ButtonFrame, CornersAndBadStyles) {
  std::vector<btn_quad> q;
  ASSERT_TRUE(BTN_frame2_quads(13, 0, 0, 400, 300, &q, nullptr));
  const btn_quad& corner = q.front();  // bottom-left
  EXPECT_FLOAT_EQ(corner.x2 - corner.x1, 35) << "corners are 0.35 of the 100-texel cell wide";
  EXPECT_FLOAT_EQ(corner.y2 - corner.y1, 30) << "and 0.3 of it high";
  EXPECT_FLOAT_EQ(corner.s1 * 512, 203) << "style 13's cell starts at texel 203";
  EXPECT_FLOAT_EQ(corner.t1 * 512, 358);
  ASSERT_TRUE(BTN_frame2_quads(17, 0, 0, 400, 300, &q, nullptr));
  EXPECT_FLOAT_EQ(q.front().x2 - q.front().x1, 20) << "the menu body has 20 px corners";
  EXPECT_FALSE(BTN_frame2_quads(10, 0, 0, 10, 10, &q, nullptr)) << "bar styles are not frames";
  EXPECT_FALSE(BTN_frame2_quads(21, 0, 0, 10, 10, &q, nullptr));
}

TEST(ButtonHit, PushButtonEdges) {
  // Button at (200, 100), 38 wide.
  EXPECT_TRUE(BTN_action_hit(200, 100, 38, 200, 110)) << "exactly 10 px above the centre still hits";
  EXPECT_FALSE(BTN_action_hit(200, 100, 38, 200, 111)) << "11 px above misses";
  EXPECT_TRUE(BTN_action_hit(200, 100, 38, 200, 90)) << "10 px below hits";
  EXPECT_FALSE(BTN_action_hit(200, 100, 38, 200, 89)) << "11 px below misses";
  EXPECT_TRUE(BTN_action_hit(200, 100, 38, 181, 100)) << "left edge x - width/2 is inside";
  EXPECT_TRUE(BTN_action_hit(200, 100, 38, 219, 100)) << "right edge is inside";
  EXPECT_FALSE(BTN_action_hit(200, 100, 38, 219.5f, 100)) << "beyond the right edge misses";
  EXPECT_FALSE(BTN_action_hit(200, 100, 38, 180.5f, 100));
}

TEST(ButtonHit, CheckBoxAndCloseBoxEdges) {
  EXPECT_TRUE(BTN_bool_hit(50, 50, 42, 46)) << "x - 8, y - 4 is the lower-left corner of the box";
  EXPECT_TRUE(BTN_bool_hit(50, 50, 58, 62)) << "x + 8, y + 12 is the upper-right corner";
  EXPECT_FALSE(BTN_bool_hit(50, 50, 41, 50));
  EXPECT_FALSE(BTN_bool_hit(50, 50, 59, 50));
  EXPECT_FALSE(BTN_bool_hit(50, 50, 50, 45));
  EXPECT_FALSE(BTN_bool_hit(50, 50, 50, 63));
  // A 500 x 300 sub-window: boxes centred at (16, 290) and (484, 290).
  EXPECT_EQ(BTN_zap_hit(500, 300, 16, 290), 1);
  EXPECT_EQ(BTN_zap_hit(500, 300, 7, 299), 1) << "9 px from the centre in both directions still hits";
  EXPECT_EQ(BTN_zap_hit(500, 300, 6, 290), 0) << "10 px left of the centre misses";
  EXPECT_EQ(BTN_zap_hit(500, 300, 493, 281), 2) << "the right box";
  EXPECT_EQ(BTN_zap_hit(500, 300, 484, 280), 0) << "10 px below the centre misses";
  EXPECT_EQ(BTN_zap_hit(500, 300, 250, 290), 0) << "the middle of the title strip is no box";
}

TEST(ButtonLabel, ExpandLabelSyntax) {
  std::string l, r, h;
  BTN_expand_label("Left|Right{?Some help", &l, &r, &h);
  EXPECT_EQ(l, "Left");
  EXPECT_EQ(r, "Right");
  EXPECT_EQ(h, "Some help") << "help starts two bytes after the '{'";
  BTN_expand_label("OK", &l, &r, &h);
  EXPECT_EQ(l, "OK") << "without '|' the whole label is the left part";
  EXPECT_EQ(r, "");
  EXPECT_EQ(h, "");
  BTN_expand_label("a|b|c", &l, &r, &h);
  EXPECT_EQ(l, "a|b") << "the last '|' splits";
  EXPECT_EQ(r, "c");
  BTN_expand_label("|English", &l, &r, &h);
  EXPECT_EQ(l, "");
  EXPECT_EQ(r, "English") << "a radio label with text only on the right";
  BTN_expand_label("Streams{?How many at once", &l, &r, &h);
  EXPECT_EQ(l, "Streams") << "the help part is never shown as the label";
  EXPECT_EQ(h, "How many at once");
  BTN_expand_label("x{", &l, &r, &h);
  EXPECT_EQ(h, "") << "a '{' at the very end gives no help and reads nothing past the end";
}

TEST(ButtonLabel, SplittingIntoTwoLines) {
  std::string_view lines[2];
  // 13 characters with a space at position 6.
  ASSERT_EQ(BTN_label_lines("Create folder", 0, lines), 2) << "a check box splits a 13-character label";
  EXPECT_EQ(lines[0], "Create");
  EXPECT_EQ(lines[1], "folder") << "the break character is dropped";
  EXPECT_EQ(BTN_label_lines("Create folder", 1, lines), 1) << "a push button never splits";
  EXPECT_EQ(BTN_label_lines("Twelve chars", 2, lines), 1) << "12 characters stay on one line";
  ASSERT_EQ(BTN_label_lines("-a b", 2, lines), 2) << "a leading '-' splits however short";
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "b");
  ASSERT_EQ(BTN_label_lines("-Hello", 1, lines), 1);
  EXPECT_EQ(lines[0], "Hello") << "the leading '-' is dropped";
  EXPECT_EQ(BTN_label_lines("Averylonglabelwithoutbreaks", 0, lines), 1) << "nothing to break at";
  EXPECT_EQ(BTN_label_lines(" abcdefghijklmn", 0, lines), 1) << "a break at either end does not count";
  ASSERT_EQ(BTN_label_lines("one two three four", 0, lines), 2);
  EXPECT_EQ(lines[0], "one two") << "the break nearest the middle";
  EXPECT_EQ(BTN_label_lines("", 0, lines), 0);
  EXPECT_EQ(BTN_label_lines("-", 0, lines), 0) << "only the dropped '-' leaves nothing";
}

// ---- Focus ring -------------------------------------------------------------

struct key_queue {
  int ch[4] = {}, vkey[4] = {}, flag[4] = {}, id[4] = {};
  int ctr = 0;
  focus_info_t info(int who, int allow) {
    focus_info_t f;
    f.who_am_i = who;
    f.char_slot = ch;
    f.vkey_slot = vkey;
    f.flag_slot = flag;
    f.id_slot = id;
    f.ctr_slot = &ctr;
    f.allow_keys = allow;
    f.slot_cap = 4;
    return f;
  }
};

constexpr int kDown = 8, kUp = 16, kShift = 1;

class FocusRing : public ::testing::Test {
 protected:
  void SetUp() override {
    mnw.top_win_now = 0;
    BTN_begin_focus_ring();
    BTN_unfocus_any();
  }
  void TearDown() override {
    BTN_begin_focus_ring();
    BTN_unfocus_any();
  }
  key_queue a, b, c;
};

TEST_F(FocusRing, EmptyRingTakesNoKey) {
  EXPECT_EQ(BTN_dispatch_to_focus(9, 9, kDown), 0) << "Tab does nothing with an empty ring";
  EXPECT_EQ(BTN_dispatch_to_focus('a', 'A', kDown), 0) << "keys reach the normal key handling";
  EXPECT_EQ(focus_id, 0);
}

TEST_F(FocusRing, TabMovesAroundTheRing) {
  BTN_add_to_focus_ring(a.info(11, kAllowLetters));
  BTN_add_to_focus_ring(b.info(22, kAllowLetters));
  BTN_add_to_focus_ring(c.info(33, kAllowLetters));
  EXPECT_EQ(BTN_dispatch_to_focus(9, 9, kUp), 0) << "a Tab key-up focuses nothing";
  EXPECT_EQ(BTN_dispatch_to_focus(9, 9, kDown), 1);
  EXPECT_EQ(focus_id, 11) << "the first Tab focuses the first element";
  BTN_dispatch_to_focus(9, 9, kDown);
  EXPECT_EQ(focus_id, 22) << "Tab moves to the next";
  BTN_dispatch_to_focus(9, 9, kDown);
  BTN_dispatch_to_focus(9, 9, kDown);
  EXPECT_EQ(focus_id, 11) << "Tab wraps from the last to the first";
  BTN_dispatch_to_focus(9, 9, kDown | kShift);
  EXPECT_EQ(focus_id, 33) << "Shift-Tab wraps from the first to the last";
  EXPECT_EQ(a.ctr + b.ctr + c.ctr, 0) << "focus moves queue no keys";
}

TEST_F(FocusRing, AllowedKeysAreQueuedOthersPassOn) {
  BTN_add_to_focus_ring(a.info(7, kAllowLetters | kAllowDigits | kAllowTab | kAllowDelete));
  BTN_dispatch_to_focus(9, 9, kDown);
  ASSERT_EQ(focus_id, 7);
  EXPECT_EQ(BTN_dispatch_to_focus('q', 'Q', kDown), 1);
  EXPECT_EQ(BTN_dispatch_to_focus('5', '5', kDown), 1);
  EXPECT_EQ(BTN_dispatch_to_focus(9, 9, kDown), 1) << "an element that takes Tab gets it";
  EXPECT_EQ(BTN_dispatch_to_focus(46, 46, kDown), 1) << "Delete is in the Backspace/Delete class";
  ASSERT_EQ(a.ctr, 4);
  EXPECT_EQ(a.ch[0], 'q');
  EXPECT_EQ(a.vkey[1], '5');
  EXPECT_EQ(a.flag[2], kDown);
  EXPECT_EQ(a.id[3], 7) << "each queued key carries the focused id";
  EXPECT_EQ(focus_id, 7) << "Tab taken by the element does not move the focus";
  EXPECT_EQ(BTN_dispatch_to_focus('q', 'Q', kDown), 1) << "a full queue still takes the key";
  EXPECT_EQ(a.ctr, 4) << "but never writes past the widget's arrays";
  a.ctr = 0;
  EXPECT_EQ(BTN_dispatch_to_focus(13, 13, kDown), 0) << "Return is not allowed: it reaches return_hit";
  EXPECT_EQ(BTN_dispatch_to_focus(27, 27, kDown), 0) << "Escape is not allowed";
  EXPECT_EQ(BTN_dispatch_to_focus('+', 187, kDown), 0) << "'+' is its own class";
  EXPECT_EQ(BTN_dispatch_to_focus(28, 37, kDown), 0) << "arrows are navigation keys";
  EXPECT_EQ(a.ctr, 0);
}

TEST_F(FocusRing, GoneElementAndAlertWindow) {
  BTN_add_to_focus_ring(a.info(5, kAllowLetters));
  BTN_dispatch_to_focus(9, 9, kDown);
  ASSERT_EQ(focus_id, 5);
  BTN_begin_focus_ring();  // next pass: the widget is not drawn any more
  BTN_add_to_focus_ring(b.info(6, kAllowLetters));
  EXPECT_EQ(BTN_dispatch_to_focus('x', 'X', kDown), 0) << "a key for a vanished element is not used";
  EXPECT_EQ(focus_id, 0) << "the focus is dropped";
  BTN_dispatch_to_focus(9, 9, kDown);
  EXPECT_EQ(focus_id, 6);
  mnw.top_win_now = kWinAlert;
  EXPECT_EQ(BTN_dispatch_to_focus('x', 'X', kDown), 0) << "under the alert no widget takes keys";
  EXPECT_EQ(b.ctr, 0);
  mnw.top_win_now = 0;
  BTN_unfocus_any();
  EXPECT_EQ(focus_id, 0);
}

}  // namespace
