// Drawing primitives in a real GL window, read back with glReadPixels:
// rectangles and lines on exactly the right pixels, the background fill, text
// glyph placement and the state cache.
#include <gtest/gtest.h>

#include "gl_fixture.h"
#include "support/test_support.h"
#include "ui/colr.h"
#include "ui/oglp.h"

namespace {

using uitest::GlTest;

class Drawing : public GlTest {};

TEST_F(Drawing, FilledRectangleOnExactlyItsPixels) {
  OGL_fillrect(10, 1.0f, 100, 200, 30, 20);  // colour 10: (0, 0.8, 0)
  EXPECT_TRUE(near(pixel(100, 200), 0, 0.8f, 0)) << "lower-left pixel is inside";
  EXPECT_TRUE(near(pixel(129, 219), 0, 0.8f, 0)) << "upper-right pixel (x + dx - 1, y + dy - 1) is inside";
  EXPECT_TRUE(is_black(pixel(99, 205))) << "the column left of x is outside";
  EXPECT_TRUE(is_black(pixel(130, 205))) << "column x + dx is outside";
  EXPECT_TRUE(is_black(pixel(110, 199))) << "the row below y is outside";
  EXPECT_TRUE(is_black(pixel(110, 220))) << "row y + dy is outside";
  int lit = 0;
  const auto px = read(90, 190, 50, 40);
  for (size_t i = 0; i < px.size(); i += 4) lit += px[i + 1] != 0;
  EXPECT_EQ(lit, 30 * 20) << "exactly dx * dy pixels are filled";
}

TEST_F(Drawing, PrimitivesAddTheWindowOrigin) {
  mnw.win_x = 302;
  mnw.win_y = 259;
  OGL_fillrect(0, 1.0f, 10, 10, 5, 5);
  EXPECT_TRUE(near(pixel(312, 269), 1, 1, 1))
      << "(10, 10) of the sub-window is (312, 269) of the client area";
  EXPECT_TRUE(is_black(pixel(10, 10))) << "nothing lands at the absolute position";
}

TEST_F(Drawing, LineRunsAlongPixelCentres) {
  OGL_line(0, 1.0f, 0, 0, 10, 0);
  for (int x = 0; x < 10; ++x)
    EXPECT_TRUE(near(pixel(x, 0), 1, 1, 1)) << "row 0 pixel " << x << " is on the line";
  EXPECT_TRUE(is_black(pixel(5, 1))) << "the row above stays clear: the line is one pixel thick";
  OGL_line(5, 1.0f, 50, 20, 50, 30);  // colour 5: yellow
  for (int y = 20; y < 30; ++y) EXPECT_TRUE(near(pixel(50, y), 1, 1, 0)) << "column 50 row " << y;
  EXPECT_TRUE(is_black(pixel(49, 25)));
  EXPECT_TRUE(is_black(pixel(51, 25)));
}

TEST_F(Drawing, TranslucentRectangleBlends) {
  OGL_fillrect(0, 1.0f, 0, 0, 10, 10);
  OGL_fillrect(69, 0.5f, 0, 0, 10, 10);  // red at half alpha over white
  const auto p = pixel(5, 5);
  EXPECT_NEAR(p[0], 255, 1) << "red over white keeps red";
  EXPECT_NEAR(p[1], 128, 2) << "green is halved by the blend";
}

TEST_F(Drawing, BackgroundFillCoversTheClientAreaWithColour34) {
  mnw.win_x = 302;  // the alert window's origin: the fill must not depend on it
  mnw.win_y = 259;
  OGL_plot_back_col();
  float c[4];
  colr.resolve(34, 1.0f, c);
  const int r = static_cast<int>(c[0] * 255 + 0.5f), g = static_cast<int>(c[1] * 255 + 0.5f),
            b = static_cast<int>(c[2] * 255 + 0.5f);
  const auto px = read(0, 0, uitest::kW, uitest::kH);
  int wrong = 0;
  for (size_t i = 0; i < px.size(); i += 4) {
    wrong += std::abs(px[i] - r) > 1 || std::abs(px[i + 1] - g) > 1 || std::abs(px[i + 2] - b) > 1;
  }
  EXPECT_EQ(wrong, 0) << "every pixel of the 1024 x 768 client area has colour 34";
  EXPECT_GT(r + g + b, 0) << "colour 34 was taken from the interface image at start-up, not left black";
}

TEST_F(Drawing, TextGlyphsStayInTheirCells) {
  OGL_string(0, 300, 300, "MMMM", 0, kCharsetProportional, kJustLeft);
  // Quads start at x, and 6 px below y (2 for the string, 4 for the line).
  const auto px = read(280, 280, 80, 40);
  int inside = 0, outside = 0;
  for (int row = 0; row < 40; ++row) {
    for (int col = 0; col < 80; ++col) {
      const uint8_t* p = &px[(row * 80 + col) * 4];
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
      const int x = 280 + col, y = 280 + row;
      if (x >= 300 && x < 300 + 3 * 10 + 14 && y >= 294 && y < 294 + 15) {
        ++inside;
      } else {
        ++outside;
      }
    }
  }
  EXPECT_EQ(outside, 0) << "glyph quads are 14 x 15 px at (x, y - 6), advancing 10 px per M";
  EXPECT_GT(inside, 0) << "the glyphs are drawn";
}

TEST_F(Drawing, BadCharsetIsFatal) {
  EXPECT_THROW(OGL_string(0, 10, 10, "x", 0, 101, 0), testsupport::fatal_alert_exit)
      << "an unknown character set ends the program";
  ASSERT_FALSE(alerts.empty());
  EXPECT_EQ(alerts.back().l1, "String proc with bad charset!");
  EXPECT_EQ(alerts.back().file, "oglp");
  EXPECT_EQ(alerts.back().type, t_exit);
}

TEST_F(Drawing, StateCacheTracksGl) {
  OGL_setstate(1, 0, 3, 5, 9, 11);
  EXPECT_TRUE(glIsEnabled(GL_BLEND)) << "alpha mode 5 blends";
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)) << "0 texture units";
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  OGL_setstate(0, 1, 2, 6, 8, 10);
  EXPECT_TRUE(glIsEnabled(GL_FOG)) << "fog 0 is on";
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D)) << "one texture unit";
  EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
  EXPECT_FALSE(glIsEnabled(GL_BLEND)) << "alpha mode 6 is alpha test only";
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  GLboolean mask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
  EXPECT_TRUE(mask) << "depth write 10 is on";
  // A change behind the cache's back is not seen until the cache is reset.
  glDisable(GL_FOG);
  OGL_setstate(0, 1, 2, 6, 8, 10);
  EXPECT_FALSE(glIsEnabled(GL_FOG)) << "an unchanged cached state is not sent again";
  OGL_reset_state_cache();
  OGL_setstate(0, 1, 2, 6, 8, 10);
  EXPECT_TRUE(glIsEnabled(GL_FOG)) << "after a reset the state is read again and corrected";
  OGL_setstate(1, 0, 3, 4, 9, 11);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
