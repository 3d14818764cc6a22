// The full-window background picture is drawn without blending when blending
// cannot change a pixel. These tests compare every pixel with what blending
// gives, and check that a quad where blending matters still blends.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gl_fixture.h"
#include "ui/oglp.h"
#include "ui/tman.h"

namespace {

using uitest::GlTest;
using uitest::kH;
using uitest::kW;

class OpaqueLayer : public GlTest {
 protected:
  // The background picture exactly as the installer's screens draw it.
  static void background(int alpha_mode) {
    OGL_2dquad(kTexBackground, 49, 1.0f, 0, 0, 0, 0, 0, 768, 0, 0.75f, 1024, 768, 1, 0.75f, 1024, 0, 1, 0, 1,
               alpha_mode);
  }
  // The same quad sent with blending forced on, as before the shortcut.
  static void background_blended() {
    OGL_setstate(1, 1, 3, 5, 9, 11);
    tman.bind_ref(kTexBackground, 0, kTexEnvModulate);
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, 0);
    glTexCoord2f(0, 0.75f);
    glVertex2f(0, 768);
    glTexCoord2f(1, 0.75f);
    glVertex2f(1024, 768);
    glTexCoord2f(1, 0);
    glVertex2f(1024, 0);
    glEnd();
  }
  static void under_layer() {  // something different below, so a blend would show
    OGL_fillrect(69, 1.0f, 0, 0, 1024, 768);
    OGL_fillrect(17, 1.0f, 100, 100, 300, 200);
  }
  static bool blend_on() { return glIsEnabled(GL_BLEND) == GL_TRUE; }
};

TEST_F(OpaqueLayer, BackgroundPixelsAreThoseOfTheBlendedDraw) {
  ASSERT_TRUE(tman.get_ref(kTexBackground).opaque) << "the built-in background picture is fully opaque";
  under_layer();
  background_blended();
  const std::vector<std::uint8_t> blended = read(0, 0, kW, kH);

  under_layer();
  background(5);
  EXPECT_FALSE(blend_on()) << "the opaque 1:1 background is sent without blending";
  const std::vector<std::uint8_t> direct = read(0, 0, kW, kH);
  ASSERT_EQ(blended.size(), direct.size());
  size_t differ = 0;
  for (size_t i = 0; i < blended.size(); ++i) differ += blended[i] != direct[i];
  EXPECT_EQ(differ, 0u) << "every byte of every pixel is the same with and without blending";
}

TEST_F(OpaqueLayer, QuadsWhereBlendingMattersStillBlend) {
  under_layer();
  OGL_2dquad(kTexBackground, 49, 0.5f, 0, 0, 0, 0, 0, 768, 0, 0.75f, 1024, 768, 1, 0.75f, 1024, 0, 1, 0, 1,
             5);
  EXPECT_TRUE(blend_on()) << "a translucent colour blends";

  // Scaled to half size: pixels sample between texels, and at the top edge
  // the filter reaches the transparent padding above the picture.
  OGL_2dquad(kTexBackground, 49, 1.0f, 0, 0, 0, 0, 0, 384, 0, 0.75f, 512, 384, 1, 0.75f, 512, 0, 1, 0, 1, 5);
  EXPECT_TRUE(blend_on()) << "a quad that does not map one texel to one pixel blends";

  // 1:1 but reaching into the padding rows above the picture.
  OGL_2dquad(kTexBackground, 49, 1.0f, 0, 0, 0, 0.25f, 0, 768, 0, 1.0f, 1024, 768, 1, 1.0f, 1024, 0, 1, 0.25f,
             1, 5);
  EXPECT_TRUE(blend_on()) << "texels outside the picture are transparent: blending decides";

  // Half a pixel off the pixel grid.
  OGL_2dquad(kTexBackground, 49, 1.0f, 0.5f, 0, 0, 0, 0.5f, 768, 0, 0.75f, 1024.5f, 768, 1, 0.75f, 1024.5f, 0,
             1, 0, 1, 5);
  EXPECT_TRUE(blend_on()) << "a quad off the pixel grid blends";

  // The interface image holds transparent texels (glyphs).
  OGL_2dquad(kTexInterface, 49, 1.0f, 0, 0, 0, 0, 0, 512, 0, 1, 512, 512, 1, 1, 512, 0, 1, 0, 1, 5);
  EXPECT_TRUE(blend_on()) << "a picture with transparent texels blends";

  background(7);
  EXPECT_TRUE(blend_on()) << "blending with alpha test, as asked, is left alone";
}

}  // namespace
