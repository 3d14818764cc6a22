// The texture table in a real GL context: the built-in pictures' sizes and
// sampling, numbering, sharing, failures and their flags, and a textured quad
// that samples exactly the texels it addresses.
#include "ui/tman.h"

#include <gtest/gtest.h>

#include "gl_fixture.h"
#include "support/test_support.h"
#include "ui/oglp.h"
#include "ui/texes.h"

namespace {

using uitest::GlTest;

// A picture of w x h pixels whose pixel (x, y) is (16x + 1, 16y + 2, 77, 255).
void fill_scratch(int w, int h) {
  scratch_dx = w;
  scratch_dy = h;
  scratch_array.assign(static_cast<size_t>(w) * h * 4, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &scratch_array[(y * w + x) * 4];
      p[0] = static_cast<uint8_t>(16 * x + 1);
      p[1] = static_cast<uint8_t>(16 * y + 2);
      p[2] = 77;
      p[3] = 255;
    }
  }
}

class Tman : public GlTest {
 protected:
  void TearDown() override {
    // Free what a test loaded above the built-in numbers.
    for (int n : loaded) {
      ref_dat_struct e = tman.get_ref(n);
      if (e.ogl_num) {
        const GLuint name = static_cast<GLuint>(e.ogl_num);
        glDeleteTextures(1, &name);
      }
      UTL_lock_guard g(&tman.lock);
      if (n < static_cast<int>(tman.ref_dat.size())) tman.ref_dat[n] = ref_dat_struct{};
    }
    tman.scene_load_fail = tman.plane_load_fail = tman.instl_load_fail = status_okay;
    tman.reset_bind();
    GlTest::TearDown();
  }
  std::vector<int> loaded;
};

TEST(TexSizes, PowersOfTwoExactSizeAndLimits) {
  tex_sizes s;
  float bad = 0;
  ASSERT_TRUE(tex_compute_sizes(512, 512, 1, 1282, 16384, &s, &bad));
  EXPECT_EQ(s.dx_tot, 512) << "a 512 x 512 picture gets a 512 x 512 texture";
  ASSERT_TRUE(tex_compute_sizes(1010, 764, 1, 1282, 16384, &s, &bad));
  EXPECT_EQ(s.dx_vis, 1010);
  EXPECT_EQ(s.dy_vis, 764);
  EXPECT_EQ(s.dx_tot, 1024) << "the atlas lives in a 1024 x 1024 texture";
  EXPECT_EQ(s.dy_tot, 1024);
  ASSERT_TRUE(tex_compute_sizes(1010, 764, 1, kTexExactSize, 16384, &s, &bad));
  EXPECT_EQ(s.dx_tot, 1010) << "0x2000 keeps the exact size";
  ASSERT_TRUE(tex_compute_sizes(1010, 764, 1, 0, 512, &s, &bad));
  EXPECT_EQ(s.dx_vis, 505) << "halved while a side exceeds the implementation's maximum";
  EXPECT_EQ(s.dx_tot, 512);
  EXPECT_FALSE(tex_compute_sizes(3000, 10, 1, 0, 16384, &s, &bad)) << "sides above 2048 are refused";
  EXPECT_EQ(bad, 3000);
  EXPECT_FALSE(tex_compute_sizes(0, 10, 1, 0, 16384, &s, &bad)) << "an empty picture is refused";
  EXPECT_EQ(bad, 0);
}

TEST_F(Tman, BuiltInPictures) {
  const ref_dat_struct ui = tman.get_ref(kTexInterface);
  EXPECT_EQ(ui.path, "scratch_array:hardwired textures");
  EXPECT_EQ(ui.tex_dx_tot, 512);
  EXPECT_EQ(ui.filter_type, 1282);
  EXPECT_EQ(ui.ref_count, -1) << "fixed numbers carry no reference count";
  EXPECT_EQ(ui.load_time, tex_load_now);
  EXPECT_NE(ui.ogl_num, 0) << "the picture is in GL";
  const ref_dat_struct atlas = tman.get_ref(kTexInstAtlas);
  EXPECT_EQ(atlas.tex_dx_vis, 1010);
  EXPECT_EQ(atlas.tex_dy_vis, 764);
  EXPECT_EQ(atlas.tex_dx_tot, 1024);
  EXPECT_EQ(atlas.tex_dy_tot, 1024);
  const ref_dat_struct back = tman.get_ref(kTexBackground);
  EXPECT_EQ(back.tex_dy_vis / back.tex_dy_tot, 0.75f) << "the background's top edge is at t = 0.75";

  GLint mag = 0, min = 0;
  glBindTexture(GL_TEXTURE_2D, ui.ogl_num);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
  EXPECT_EQ(mag, GL_NEAREST) << "texture 392 is sampled nearest although its flags do not ask for it";
  EXPECT_EQ(min, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, back.ogl_num);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
  EXPECT_EQ(mag, GL_LINEAR) << "other pictures magnify linearly";
  GLint w = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  EXPECT_EQ(w, 1024);
  glBindTexture(GL_TEXTURE_2D, 0);
  tman.reset_bind();
}

TEST_F(Tman, AutomaticNumbersAreSharedByPath) {
  fill_scratch(4, 4);
  const int a = tman.load_texture(tex_fail_warn_install, 0, 0, tex_load_now, "scratch_array:one");
  loaded.push_back(a);
  EXPECT_GE(a, kTexFirstAuto) << "automatic numbers start at 1135";
  const int b = tman.load_texture(tex_fail_warn_install, 0, 0, tex_load_now, "scratch_array:one");
  EXPECT_EQ(a, b) << "the same path twice gives the same number";
  EXPECT_EQ(tman.get_ref(a).ref_count, 2) << "and a second holder";
  const int c = tman.load_texture(tex_fail_warn_install, 0, 0, tex_load_now, "scratch_array:two");
  loaded.push_back(c);
  EXPECT_NE(c, a) << "another picture gets another number";
  EXPECT_EQ(tman.get_ref(c).ref_count, 1);
  EXPECT_TRUE(alerts.empty());
}

TEST_F(Tman, TexturedQuadSamplesTheRightTexels) {
  fill_scratch(10, 6);  // not a power of two: lives in a 16 x 8 texture
  const int n = tman.load_texture(tex_fail_quit, 500, 0x30, tex_load_now, "scratch_array:test");
  loaded.push_back(n);
  ASSERT_EQ(n, 500);
  const ref_dat_struct e = tman.get_ref(500);
  ASSERT_EQ(e.tex_dx_tot, 16);
  ASSERT_EQ(e.tex_dy_tot, 8);
  const float s = 10.0f / 16, t = 6.0f / 8;
  OGL_2dquad(500, 0, 1.0f, 100, 50, 0, 0, 100, 56, 0, t, 110, 56, s, t, 110, 50, s, 0, 1, 4);
  const auto px = read(100, 50, 10, 6);
  int wrong = 0;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      const uint8_t* p = &px[(y * 10 + x) * 4];
      if (p[0] != 16 * x + 1 || p[1] != 16 * y + 2 || p[2] != 77) {
        ++wrong;
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") shows (" << int(p[0]) << ", " << int(p[1]) << ", "
                      << int(p[2]) << ")";
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "each pixel shows its own texel; the first stored row is at the bottom";
  EXPECT_TRUE(is_black(pixel(110, 53))) << "nothing right of the quad";
  std::vector<uint8_t> all(16 * 8 * 4, 0xAB);
  glBindTexture(GL_TEXTURE_2D, e.ogl_num);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, all.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  tman.reset_bind();
  int stray = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x)
      if ((x >= 10 || y >= 6) && (all[(y * 16 + x) * 4] | all[(y * 16 + x) * 4 + 3])) ++stray;
  EXPECT_EQ(stray, 0) << "the texture outside the picture is transparent black";
}

TEST_F(Tman, SizeFailureWarnsAndSetsTheFlagOnce) {
  fill_scratch(4096, 1);
  const int n = tman.load_texture(tex_fail_warn_install, 0, 0, tex_load_now, "scratch_array:too wide");
  EXPECT_EQ(n, 0) << "a failed automatic load gives 0";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "Trying to create a texture either less than 1 or greater than 2048!");
  EXPECT_EQ(alerts[0].l2, "value:");
  EXPECT_EQ(alerts[0].l3, "4096");
  EXPECT_EQ(alerts[0].file, "tman.cpp");
  EXPECT_EQ(alerts[0].type, t_alert);
  EXPECT_TRUE(tman.has_instl_load_fail()) << "the installer-texture flag is raised for the pump";
  EXPECT_FALSE(tman.has_scene_load_fail());
  tman.mute_instl_load_fail();
  EXPECT_FALSE(tman.has_instl_load_fail()) << "muted after the one alert";
  tman.load_texture(tex_fail_warn_install, 0, 0, tex_load_now, "scratch_array:too wide");
  EXPECT_FALSE(tman.has_instl_load_fail()) << "a muted flag is not raised again";
}

TEST_F(Tman, FileFailureUnderEachMode) {
  EXPECT_EQ(tman.load_texture(tex_fail_warn_scene, 0, 0, tex_load_now, "/nonexistent/picture.png"), 0);
  EXPECT_TRUE(tman.has_scene_load_fail());
  EXPECT_EQ(tman.load_texture(tex_fail_warn_plane, 600, 0, tex_load_now, "/nonexistent/picture.png"), 600)
      << "a fixed number is returned even when its load fails";
  EXPECT_TRUE(tman.has_plane_load_fail());
  EXPECT_EQ(tman.get_ref(600).tex_mode, 0) << "the entry holds nothing";
  tman.load_texture(tex_fail_ignore, 0, 0, tex_load_now, "/nonexistent/picture.png");
  EXPECT_TRUE(alerts.empty()) << "warnings wait for the pump; ignore says nothing";
  EXPECT_THROW(tman.load_texture(tex_fail_quit, 601, 0, tex_load_now, "/nonexistent/picture.png"),
               testsupport::fatal_alert_exit)
      << "a required picture that cannot be loaded ends the program";
}

TEST_F(Tman, BindingAMissingTextureIsReportedOnce) {
  tman.bind_ref(777, 0);
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "missing non-scenery texture - how?");
  EXPECT_EQ(alerts[0].l2, "ref=   777");
  tman.bind_ref(777, 0);
  EXPECT_EQ(alerts.size(), 1u) << "a drawing loop does not raise the same alert on every pass";
  tman.bind_ref(-4, 0);
  EXPECT_EQ(alerts.size(), 2u) << "a negative number is reported, not indexed";
}

TEST_F(Tman, BindCacheAndUnits) {
  const int ui = tman.get_ref(kTexInterface).ogl_num;
  tman.bind_ref(kTexInterface, 1, kTexEnvReplace);
  glActiveTexture(GL_TEXTURE1);
  GLint bound = 0, env = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
  glActiveTexture(GL_TEXTURE0);
  EXPECT_EQ(bound, ui) << "bound on the requested unit";
  EXPECT_EQ(env, GL_REPLACE) << "with the requested environment mode";
  glGetIntegerv(GL_ACTIVE_TEXTURE, &bound);
  EXPECT_EQ(bound, GL_TEXTURE0) << "unit 0 is active again afterwards";
  // Behind the cache's back: the cached bind is skipped until reset_bind.
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture(GL_TEXTURE0);
  tman.bind_ref(kTexInterface, 1, kTexEnvReplace);
  glActiveTexture(GL_TEXTURE1);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glActiveTexture(GL_TEXTURE0);
  EXPECT_EQ(bound, 0) << "a bind already current in the cache is not sent";
  tman.reset_bind();
  tman.bind_ref(kTexInterface, 1, kTexEnvReplace);
  glActiveTexture(GL_TEXTURE1);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glActiveTexture(GL_TEXTURE0);
  EXPECT_EQ(bound, ui) << "after reset_bind the bind reaches GL";
  tman.bind_ref(kTexInterface, 1, kTexEnvModulate);
  tman.reset_bind();
}

TEST_F(Tman, BackgroundLoadFinishesFirst) {
  int finished = 0;
  tman.async_load_func = [&finished] { ++finished; };
  fill_scratch(4, 4);
  loaded.push_back(tman.load_texture(tex_fail_ignore, 0, 0, tex_load_now, "scratch_array:a"));
  EXPECT_EQ(finished, 0) << "a request from the scratch buffer does not wait for a background load";
  tman.load_texture(tex_fail_ignore, 0, 0, tex_load_now, "some/file.png");
  EXPECT_EQ(finished, 1) << "any other request makes the background load finish first";
  EXPECT_FALSE(tman.async_load_func) << "and it runs once";
}

}  // namespace
