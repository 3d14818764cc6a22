#pragma once
// A real window with an OpenGL context (under Xvfb in CI) for the drawing
// tests, shared by every test of the program: created on first use and again
// whenever another test has closed it. Each test starts from a black client
// area, the 2-D pixel projection, the main window's layout and no pending
// input; alerts are recorded instead of shown.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"
#include "ui/tman.h"

namespace uitest {

constexpr int kW = 1024, kH = 768;

inline bool ensure_window(std::string* why) {
  if (!plat_win_exists() || plat_win_headless()) {
    plat_win_set_headless(false);
    if (!plat_win_create("Skyroot", 0, 0, kW, kH, true, 32, why)) return false;
  }
  // Another test may have made a new context: its textures and state are
  // not those the table remembers.
  if (!glIsTexture(static_cast<GLuint>(tman.get_ref(kTexInterface).ogl_num))) {
    tman.forget_all(false);
    recall_ins_texes();
  }
  tman.reset_bind();
  OGL_reset_state_cache();
  return true;
}

class GlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alert_set_observer([this](const alert_record& r) { alerts.push_back(r); });
    std::string why;
    ASSERT_TRUE(ensure_window(&why)) << "the drawing tests need a real GL window (run under xvfb-run): "
                                     << why;
    int w = 0, h = 0;
    plat_win_client_size(&w, &h);
    ASSERT_EQ(w, kW) << "client area width";
    ASSERT_EQ(h, kH) << "client area height";
    // The window layer's GL defaults that matter to 2-D drawing.
    glViewport(0, 0, kW, kH);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kW, 0, kH, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glFrontFace(GL_CW);
    glEnable(GL_CULL_FACE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glDisable(GL_SCISSOR_TEST);
    OGL_reset_state_cache();
    tman.reset_bind();
    mnw.x_res_now = kW;
    mnw.y_res_now = kH;
    mnw.win_x = mnw.win_y = 0;
    mnw.win_dx = kW;
    mnw.win_dy = kH;
    mnw.top_win_now = 0;
    mnw.menu_up = -1;
    mnw.mouse_clicked = 0;
    mnw.mx = mnw.my = -1000;
    mnw.lang = 0;
    stls.help_message.clear();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  void TearDown() override { alert_set_observer(nullptr); }

  // RGBA of the back-buffer pixel (x, y), origin bottom-left.
  static std::array<int, 4> pixel(int x, int y) {
    std::uint8_t p[4] = {};
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2], p[3]};
  }
  static std::vector<std::uint8_t> read(int x, int y, int w, int h) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(w) * h * 4);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, v.data());
    return v;
  }
  static bool is_black(const std::array<int, 4>& p) { return p[0] == 0 && p[1] == 0 && p[2] == 0; }
  // True when the pixel's colour is (r, g, b) in 0..1 within one step of 8 bits.
  static bool near(const std::array<int, 4>& p, float r, float g, float b) {
    auto ok = [](int v, float f) { return std::abs(v - static_cast<int>(f * 255.0f + 0.5f)) <= 1; };
    return ok(p[0], r) && ok(p[1], g) && ok(p[2], b);
  }

  std::vector<alert_record> alerts;
};

}  // namespace uitest
