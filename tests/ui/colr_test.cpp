// The colour table: defaults, gamma lookup, the interface colours read from
// the interface image, resolution (tint, alpha) and the pulse.
#include "ui/colr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ui/texes.h"

namespace {

TEST(Colr, DefaultsAndGamma) {
  const colr_class c;
  EXPECT_FLOAT_EQ(c.col_rgb[0][0], 1) << "colour 0 is white";
  EXPECT_FLOAT_EQ(c.col_rgb[102][2], 0.9f) << "colour 102 is (1, 1, 0.9)";
  EXPECT_FLOAT_EQ(c.col_rgb[72][1], 0.43f);
  EXPECT_FLOAT_EQ(c.col_rgb[27][1], 1) << "26..28 are white";
  for (int unlisted : {11, 12, 23, 25, 30, 48, 73, 86, 89, 104}) {
    EXPECT_EQ(c.col_rgb[unlisted][0] + c.col_rgb[unlisted][1] + c.col_rgb[unlisted][2], 0)
        << "unlisted index " << unlisted << " is black";
  }
  for (int i = 34; i <= 47; ++i) {
    EXPECT_EQ(c.col_rgb[i][0] + c.col_rgb[i][1] + c.col_rgb[i][2], 0)
        << "interface colour " << i << " is not a default: it comes from the interface image";
  }
  EXPECT_EQ(c.has_gamma, 1) << "1.8 and 2.4 differ";
  EXPECT_EQ(c.win_gamma[0], 0);
  EXPECT_EQ(c.win_gamma[255], 255);
  EXPECT_EQ(c.win_gamma[128], std::lround(255 * std::pow(128 / 255.0, 1.8 / 2.4))) << "gamma lookup entry";
  EXPECT_FLOAT_EQ(c.r_manual_liting, 1);
}

TEST(Colr, InterfaceColoursFromTheirPixels) {
  // A 512 x 512 image whose every pixel encodes its own position.
  std::vector<uint8_t> img(512 * 512 * 4);
  for (int row = 0; row < 512; ++row) {
    for (int col = 0; col < 512; ++col) {
      uint8_t* p = &img[(row * 512 + col) * 4];
      p[0] = static_cast<uint8_t>(col & 0xff);
      p[1] = static_cast<uint8_t>(row & 0xff);
      p[2] = static_cast<uint8_t>((col >> 8) | ((row >> 8) << 1));
      p[3] = 255;
    }
  }
  colr_class c;
  c.take_interface_colors(img.data(), 512, 512);
  EXPECT_FLOAT_EQ(c.col_rgb[34][0], 319 % 256 / 255.0f) << "34 is pixel column 319";
  EXPECT_FLOAT_EQ(c.col_rgb[34][1], 155 / 255.0f) << "of row 155, counted from the first stored row";
  EXPECT_FLOAT_EQ(c.col_rgb[44][0], 395 % 256 / 255.0f) << "44 is column 395";
  EXPECT_FLOAT_EQ(c.col_rgb[44][1], 115 / 255.0f);
  EXPECT_FLOAT_EQ(c.col_rgb[47][1], 67 / 255.0f) << "47 is row 67";
  EXPECT_FLOAT_EQ(c.col_rgb[39][1], (147 + 123) / 2 / 255.0f) << "39 is the average of 35 and 38";
  EXPECT_FLOAT_EQ(c.col_rgb[33][0], 1) << "neighbours are left alone";
  EXPECT_FLOAT_EQ(c.col_rgb[49][0], 1);
}

TEST(Colr, InterfaceColourOfTheBuiltInImage) {
  const builtin_picture* ui = builtin_picture_get(392);
  ASSERT_NE(ui, nullptr);
  colr_class c;
  c.take_interface_colors(ui->rgba.data(), ui->width, ui->height);
  const uint8_t* p = &ui->rgba[(155 * 512 + 319) * 4];
  EXPECT_FLOAT_EQ(c.col_rgb[34][0], p[0] / 255.0f) << "colour 34 is the image's pixel (319, 155)";
  EXPECT_FLOAT_EQ(c.col_rgb[34][2], p[2] / 255.0f);
  EXPECT_GT(c.col_rgb[34][0] + c.col_rgb[34][1] + c.col_rgb[34][2], 0)
      << "the background colour is not black";
}

TEST(Colr, ResolveTintAlphaAndRange) {
  colr_class c;
  c.r_manual_liting = 0.5f;
  float rgba[4];
  EXPECT_TRUE(c.resolve(0, 1.0f, rgba)) << "alpha 1 is sent opaque";
  EXPECT_FLOAT_EQ(rgba[0], 0.5f) << "the tint applies to colours up to 45";
  c.resolve(49, 1.0f, rgba);
  EXPECT_FLOAT_EQ(rgba[0], 1.0f) << "but not above 45";
  EXPECT_FALSE(c.resolve(0, 0.5f, rgba)) << "a translucent colour is sent with its alpha";
  EXPECT_FLOAT_EQ(rgba[3], 0.5f);
  EXPECT_FALSE(c.resolve(0, 0.99f, rgba)) << "0.99 is not above 0.99";
  ren.current_alpha = 0.5f;
  c.resolve(0, 1.0f, rgba);
  EXPECT_FLOAT_EQ(rgba[3], 0.5f) << "the global alpha factor multiplies in";
  ren.current_alpha = 1.0f;
  c.resolve(500, 1.0f, rgba);  // must not read past the table
  c.resolve(-3, 1.0f, rgba);
  c.assign(105, 1, 1, 1);  // ignored, not written past the table
  SUCCEED();
}

TEST(Colr, Pulse) {
  colr_class c;
  c.update_pulse(0.0f);
  EXPECT_FLOAT_EQ(c.pulse_alpha, 0.7f) << "p = 0.7 at t = 0";
  EXPECT_FLOAT_EQ(c.col_rgb[81][0], 0.7f);
  EXPECT_FLOAT_EQ(c.col_rgb[81][1], 0.21f) << "81 is (p, 0.3p, 0.3p)";
  c.update_pulse(static_cast<float>(M_PI / 40));  // sin(pi/2) = 1
  EXPECT_NEAR(c.pulse_alpha, 1.0f, 1e-5) << "p peaks at 1";
  EXPECT_NEAR(c.col_rgb[80][1], 0.5f, 1e-5) << "80 is (p, 0.5p, 0)";
  EXPECT_NEAR(c.col_rgb[83][1], 0.8f, 1e-5) << "83 is (0.2p, 0.8p, 0.2p)";
}

}  // namespace
