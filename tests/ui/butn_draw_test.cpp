// Widgets drawn in a real GL window from a test interface image whose cells
// are flat colours, so each look can be told apart by its pixels; and the
// widgets' reactions to a click in the pass.
#include <gtest/gtest.h>

#include "gl_fixture.h"
#include "support/test_support.h"
#include "ui/butn.h"
#include "ui/font_table.h"
#include "ui/oglp.h"
#include "ui/texes.h"

namespace {

using uitest::GlTest;

// Paints texels [u0, u1) x [v0, v1) of a 512 x 512 picture.
void paint(std::vector<uint8_t>& img, int u0, int v0, int u1, int v1, uint8_t r, uint8_t g, uint8_t b) {
  for (int v = v0; v < v1; ++v) {
    for (int u = u0; u < u1; ++u) {
      uint8_t* p = &img[(v * 512 + u) * 4];
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = 255;
    }
  }
}

void load_interface(const uint8_t* pixels, const char* path) {
  tex_load_vars v;
  v.require_tex = tex_fail_quit;
  v.manual_ref = kTexInterface;
  v.filter_type = kTexBuiltinFlags;
  v.path = path;
  v.used_buf = pixels;
  v.dx_vis = v.dy_vis = 512;
  tman.load_texture(v, tex_load_now);
}

class Widgets : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    img.assign(512 * 512 * 4, 0);                 // transparent: glyphs and unused cells draw nothing
    paint(img, 304, 486, 356, 512, 255, 0, 0);    // push button, normal (style 2): red
    paint(img, 304, 459, 356, 485, 0, 0, 255);    // push button, pressed (style 3): blue
    paint(img, 203, 358, 303, 458, 0, 255, 0);    // frame 13: green
    paint(img, 139, 178, 157, 196, 255, 255, 0);  // check box: yellow
    paint(img, 139, 197, 157, 215, 255, 0, 255);  // tick: magenta
    load_interface(img.data(), "scratch_array:test interface");
  }
  void TearDown() override {
    // The real picture back, as start-up registers it.
    load_interface(builtin_picture_get(kTexInterface)->rgba.data(), "scratch_array:hardwired textures");
    mnw.mouse_clicked = 0;
    mnw.menu_up = -1;
    GlTest::TearDown();
  }
  void click_at(float x, float y) {
    mnw.mx = x;
    mnw.my = y;
    mnw.mouse_clicked = 1;
  }
  std::vector<uint8_t> img;
};

TEST_F(Widgets, PressedLookDiffersFromNormalLook) {
  EXPECT_EQ(BTN_action(200, 300, 60, 0, 0, "Go", "-"), 0) << "no click, no press";
  EXPECT_TRUE(near(pixel(200, 300), 1, 0, 0)) << "the normal look comes from bar style 2";
  EXPECT_TRUE(near(pixel(171, 288), 1, 0, 0)) << "the bar spans x - 30 and y - 12";
  EXPECT_TRUE(is_black(pixel(169, 300))) << "nothing left of the bar";
  EXPECT_TRUE(is_black(pixel(200, 286))) << "nothing below the 26 px bar";
  glClear(GL_COLOR_BUFFER_BIT);
  BTN_action(200, 300, 60, 1, 0, "Go", "-");
  EXPECT_TRUE(near(pixel(200, 300), 0, 0, 1)) << "the pressed look (style 3) is drawn over it";
}

TEST_F(Widgets, TextQuadsSampleTheirGlyphCells) {
  // Fill the cells of 'O' and 'K' white, with a red bottom texel row in 'O'.
  for (char c : {'O', 'K'}) {
    const glyph_cell cell = font_cell(static_cast<unsigned char>(c));
    const int u = cell.column * kGlyphCellW, v = cell.row * kGlyphCellH;
    paint(img, u, v, u + kGlyphCellW, v + kGlyphCellH, 255, 255, 255);
    if (c == 'O') paint(img, u, v, u + kGlyphCellW, v + 1, 255, 0, 0);
  }
  load_interface(img.data(), "scratch_array:test interface");
  OGL_string(0, 210, 300, "OK", 0, kCharsetProportional, kJustCentre);
  // Centred: starts at 210 - (9 + 7) / 2 = 202; quads 14 x 15 from y - 6.
  EXPECT_TRUE(near(pixel(202, 295), 1, 1, 1)) << "the text's left edge is at 202";
  EXPECT_TRUE(is_black(pixel(201, 300))) << "nothing left of the left edge";
  EXPECT_TRUE(near(pixel(202, 294), 1, 0, 0)) << "the cell's first stored row is the glyph's bottom row";
  EXPECT_TRUE(near(pixel(224, 308), 1, 1, 1)) << "K starts 9 px after O and is 14 px wide";
  EXPECT_TRUE(is_black(pixel(225, 300)));
  EXPECT_TRUE(is_black(pixel(215, 309))) << "glyphs are 15 px high";
  EXPECT_TRUE(is_black(pixel(215, 293)));
}

TEST_F(Widgets, FrameLandsAroundTheRectangle) {
  BTN_frame2(13, 100, 100, 200, 100, "");
  EXPECT_TRUE(near(pixel(91, 86), 0, 1, 0)) << "the frame reaches 9 px left and 14 px below";
  EXPECT_TRUE(is_black(pixel(90, 86)));
  EXPECT_TRUE(is_black(pixel(91, 85)));
  EXPECT_TRUE(near(pixel(308, 203), 0, 1, 0)) << "and 9 px right and 4 px above";
  EXPECT_TRUE(is_black(pixel(309, 203)));
  EXPECT_TRUE(is_black(pixel(308, 204)));
  EXPECT_TRUE(near(pixel(200, 150), 0, 1, 0)) << "the centre is filled";
}

TEST_F(Widgets, PushButtonClick) {
  click_at(200, 310);
  EXPECT_EQ(BTN_action(200, 300, 60, 0, 0, "Go", "-"), 1) << "a click 10 px above the centre presses it";
  click_at(200, 311);
  EXPECT_EQ(BTN_action(200, 300, 60, 0, 0, "Go", "-"), 0) << "11 px above does not";
  click_at(200, 300);
  mnw.menu_up = 0;
  EXPECT_EQ(BTN_action(200, 300, 60, 0, 0, "Go", "-"), 0) << "no button reacts while a menu is open";
  int v = 0;
  EXPECT_EQ(BTN_bool(200, 300, &v, "x", 0), 0) << "nor a check box";
  mnw.menu_up = -1;
  mnw.win_x = 302;
  mnw.win_y = 259;
  click_at(0, 0);
  EXPECT_EQ(BTN_action(0, 0, 60, 0, 1, "OK", "-"), 1) << "hit tests work in window coordinates";
}

TEST_F(Widgets, CheckBoxToggles) {
  int value = 0;
  EXPECT_EQ(BTN_bool(100, 100, &value, "Left|Right{?Help text", 0), 0);
  EXPECT_TRUE(near(pixel(100, 103), 1, 1, 0)) << "the box icon is centred at (x, y + 3)";
  EXPECT_TRUE(stls.help_message.empty()) << "help only while the mouse is over the box";
  click_at(104, 110);
  EXPECT_EQ(BTN_bool(100, 100, &value, "Left|Right{?Help text", 0), 1);
  EXPECT_EQ(value, 1) << "a click toggles the value";
  EXPECT_EQ(stls.help_message, "Help text") << "the hovered box offers its help";
  mnw.mouse_clicked = 0;
  glClear(GL_COLOR_BUFFER_BIT);
  BTN_bool(100, 100, &value, "x", 0);
  EXPECT_TRUE(near(pixel(100, 103), 1, 0, 1)) << "the tick is drawn over a set box";
  click_at(100, 100);
  BTN_bool(100, 100, &value, "x", 0);
  EXPECT_EQ(value, 0) << "a second click clears it";
}

TEST_F(Widgets, RadioButtons) {
  int choice = 1;
  click_at(50, 50);
  EXPECT_EQ(BTN_is_int(50, 50, &choice, 1, "|One"), 1) << "clicking the selected radio still reports a click";
  EXPECT_EQ(choice, 1) << "and keeps it selected";
  EXPECT_EQ(BTN_is_int(50, 50, &choice, 2, "|Two"), 1);
  EXPECT_EQ(choice, 2) << "clicking another radio selects its value";
  mnw.mouse_clicked = 0;
  EXPECT_EQ(BTN_is_int(50, 50, &choice, 3, "|Three"), 0);
  EXPECT_EQ(choice, 2) << "no click, no change";
}

TEST_F(Widgets, CloseBoxes) {
  mnw.win_dx = 500;
  mnw.win_dy = 300;
  EXPECT_EQ(BTN_zap_boxes(0), 0) << "no click";
  click_at(484, 290);
  EXPECT_EQ(BTN_zap_boxes(1), 1) << "the right box";
  click_at(250, 290);
  EXPECT_EQ(BTN_zap_boxes(0), 0) << "between the boxes";
}

TEST_F(Widgets, BadStylesAreFatal) {
  EXPECT_THROW(BTN_frame1(6, 10, 10, 50, 0), testsupport::fatal_alert_exit);
  ASSERT_FALSE(alerts.empty());
  EXPECT_EQ(alerts.back().l1, "Bad BTN_frame1 call!");
  EXPECT_EQ(alerts.back().file, "butn");
  EXPECT_THROW(BTN_frame2(10, 10, 10, 50, 50, ""), testsupport::fatal_alert_exit);
  EXPECT_EQ(alerts.back().l1, "Bad BTN_frame2 call!");
  EXPECT_THROW(BTN_fillwin(1, 0), testsupport::fatal_alert_exit) << "a window body of style 0 is no frame";
}

}  // namespace
