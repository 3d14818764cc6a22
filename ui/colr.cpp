#include "ui/colr.h"

#include <cmath>
#include <cstring>

#include "ui/oglp.h"
#include "ui/screen_rects.h"

ren_class ren;
colr_class colr;

namespace {

struct default_entry {
  int first, last;
  float r, g, b;
};

// Every index not listed is black; 34..47 come from the interface image and
// 79..84 from the pulse.
constexpr default_entry kDefaults[] = {
    {0, 0, 1, 1, 1},
    {1, 1, 1, 0.2f, 0.2f},
    {2, 2, 1, 1, 0.2f},
    {3, 3, 0.7f, 0.7f, 0.7f},
    {4, 4, 0.8f, 0, 0},
    {5, 5, 1, 1, 0},
    {6, 6, 0.3f, 0.3f, 0.3f},
    {7, 7, 0.2f, 0, 0},
    {8, 8, 1, 0.8f, 0.2f},
    {9, 9, 0.1f, 0.1f, 0.1f},
    {10, 10, 0, 0.8f, 0},
    {13, 13, 0, 0.4f, 0},
    {15, 15, 0.4f, 0.4f, 1},
    {17, 17, 0, 0, 0.6f},
    {18, 18, 0.9f, 0.9f, 0.9f},
    {19, 19, 0.8f, 0.1f, 0.1f},
    {20, 20, 0.9f, 0.9f, 1},
    {21, 21, 0.9f, 0.9f, 0.9f},
    {22, 22, 0.1f, 0.1f, 0.1f},
    {24, 24, 1, 1, 0},
    {26, 28, 1, 1, 1},
    {29, 29, 1, 1, 0},
    {31, 33, 1, 1, 1},
    {49, 49, 1, 1, 1},
    {50, 50, 0.4f, 1, 0.4f},
    {51, 51, 1, 0.4f, 0.4f},
    {52, 52, 1, 1, 0.6f},
    {53, 53, 0.7f, 0.7f, 1},
    {54, 54, 1, 0.5f, 0},
    {55, 55, 0.8f, 0.8f, 0.8f},
    {56, 56, 0, 1, 0},
    {57, 57, 1, 0.2f, 0.2f},
    {58, 58, 1, 1, 0.2f},
    {59, 59, 0.4f, 0.4f, 1},
    {60, 60, 0.5f, 0.3f, 0},
    {61, 61, 0.5f, 0.5f, 0.5f},
    {62, 62, 0, 0.6f, 0},
    {63, 63, 0.6f, 0.2f, 0},
    {64, 64, 1, 1, 0},
    {65, 65, 0.2f, 0.2f, 0.8f},
    {66, 66, 1, 0.4f, 0},
    {67, 67, 0.2f, 0.2f, 0.2f},
    {68, 68, 0, 0.2f, 0},
    {69, 69, 1, 0, 0},
    {70, 70, 0.6f, 0.6f, 0},
    {71, 71, 0.15f, 0.15f, 0.6f},
    {72, 72, 0.49f, 0.43f, 0.24f},
    {74, 74, 0, 0.1f, 0},
    {75, 75, 1, 0.2f, 1},
    {76, 76, 1, 0, 1},
    {77, 77, 0, 1, 1},
    {78, 78, 0.44f, 0.53f, 0.54f},
    {85, 85, 1, 0, 1},
    {87, 87, 1, 0, 1},
    {88, 88, 1, 1, 1},
    {97, 97, 0.5f, 0.5f, 0.4f},
    {98, 98, 1, 0.3f, 0},
    {99, 99, 0.5f, 0.5f, 0.4f},
    {100, 100, 0.8f, 0.8f, 0.7f},
    {101, 101, 0, 0.6f, 0.2f},
    {102, 102, 1, 1, 0.9f},
};

}  // namespace

bool colr_interface_pixel(int col, int* column, int* row) {
  for (const auto& p : kPalettePixels) {
    if (p.col == col) {
      *column = p.x;
      *row = p.y;
      return true;
    }
  }
  return false;
}

colr_class::colr_class() {
  // The record is plain data; start from all zeroes as a whole.
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  file_gamma = 1.8;
  screen_gamma = 2.4;
  has_gamma = file_gamma != screen_gamma;
  r_manual_liting = g_manual_liting = b_manual_liting = 1.0f;
  for (const auto& d : kDefaults) {
    for (int i = d.first; i <= d.last; ++i) assign(i, d.r, d.g, d.b);
  }
  const double exponent = file_gamma / screen_gamma;
  for (int i = 0; i < 256; ++i) {
    win_gamma[i] = static_cast<std::uint8_t>(std::lround(255.0 * std::pow(i / 255.0, exponent)));
  }
}

void colr_class::assign(int col, float r, float g, float b) {
  if (col < 0 || col >= kColrCount) return;
  col_rgb[col][0] = r;
  col_rgb[col][1] = g;
  col_rgb[col][2] = b;
}

bool colr_class::resolve(int col, float alpha, float rgba[4]) const {
  // Callers pass 0..104; an index outside is clamped rather than read past
  // the table.
  if (col < 0) col = 0;
  if (col >= kColrCount) col = kColrCount - 1;
  float r = col_rgb[col][0], g = col_rgb[col][1], b = col_rgb[col][2];
  if (col <= 45) {
    r *= r_manual_liting;
    g *= g_manual_liting;
    b *= b_manual_liting;
  }
  alpha *= ren.current_alpha;
  if (ren.night_vision) {
    float sum = r + g + b;
    if (sum < 0.01f) sum = 0.01f;
    if (sum > 1.0f) sum = 1.0f;
    r = 0.0f;
    g = sum;
    b = 0.0f;
  }
  rgba[0] = r;
  rgba[1] = g;
  rgba[2] = b;
  rgba[3] = alpha;
  return alpha > 0.99f;
}

void colr_class::set_index(int col, float alpha) {
  float c[4];
  const bool opaque = resolve(col, alpha, c);
  OGL_color(c, opaque);
}

void colr_class::take_interface_colors(const std::uint8_t* rgba, int width, int height) {
  if (!rgba) return;
  for (const auto& p : kPalettePixels) {
    if (p.x >= width || p.y >= height) continue;
    const std::uint8_t* px = rgba + (static_cast<std::size_t>(p.y) * width + p.x) * 4;
    assign(p.col, px[0] / 255.0f, px[1] / 255.0f, px[2] / 255.0f);
  }
  for (int k = 0; k < 3; ++k) col_rgb[39][k] = 0.5f * (col_rgb[35][k] + col_rgb[38][k]);
}

void colr_class::update_pulse(float t) {
  const float p = 0.7f + 0.3f * std::sin(20.0f * t);
  assign(79, p, p, p);
  assign(80, p, 0.5f * p, 0.0f);
  assign(81, p, 0.3f * p, 0.3f * p);
  assign(82, 0.3f * p, 0.3f * p, p);
  assign(83, 0.2f * p, 0.8f * p, 0.2f * p);
  assign(84, 0.7f * p, 0.7f * p, 0.2f * p);
  pulse_alpha = p;
}
