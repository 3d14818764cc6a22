#pragma once
// A floating-point RGBA drawing surface for the picture generator.
//
// Coordinates are texels with y counted from the bottom row, the way the
// program addresses its pictures (row 0 is the first row stored in the
// texture). Colours are straight (not premultiplied) RGBA in 0..1 in sRGB;
// shapes are drawn with analytic anti-aliasing from signed distances.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct rgba {
  float r = 0, g = 0, b = 0, a = 0;
};

// "#rrggbb" style constant with an alpha.
rgba hex(std::uint32_t rgb, float a = 1.0f);
rgba mix(const rgba& x, const rgba& y, float t);
inline float clamp01(float v) {
  return std::clamp(v, 0.0f, 1.0f);
}
inline float smoothstep(float e0, float e1, float x) {
  float t = clamp01((x - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

struct box {
  float x0, y0, x1, y1;  // x0 <= x < x1, y0 <= y < y1
};

class canvas {
 public:
  canvas(int w, int h) : w_(w), h_(h), px_(static_cast<std::size_t>(w) * h) {}
  int width() const { return w_; }
  int height() const { return h_; }

  rgba get(int x, int y) const { return px_[idx(x, y)]; }
  void set(int x, int y, const rgba& c) {
    if (inside(x, y)) px_[idx(x, y)] = c;
  }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w_ && y < h_; }
  // Composites `c` with extra coverage `cov` over the pixel (source over).
  void blend(int x, int y, const rgba& c, float cov = 1.0f);
  // Replaces a rectangle with transparent black.
  void clear(int x0, int y0, int x1, int y1);

  // Covers every pixel of `area` whose centre has coverage(x, y) > 0 with
  // paint(x, y). `coverage` receives the pixel centre.
  void fill(const box& area, const std::function<float(float, float)>& coverage,
            const std::function<rgba(float, float)>& paint);
  // The same with `n` x `n` samples per pixel (for shapes without a distance).
  void fill_ss(const box& area, int n, const std::function<float(float, float)>& coverage,
               const std::function<rgba(float, float)>& paint);

  // Copies `src` (whole) onto this canvas with its lower-left corner at (x, y),
  // composited over what is there.
  void draw(const canvas& src, int x, int y, const rgba& tint = {1, 1, 1, 1});
  // Copies a rectangle of `src` replacing what is there (no blending).
  void copy_from(const canvas& src, int sx, int sy, int w, int h, int dx, int dy);

  // Writes an 8-bit RGBA PNG, top row (highest y) first, so the file looks
  // the way the picture is drawn on screen. Returns false on failure.
  bool write_png(const std::string& path) const;

 private:
  std::size_t idx(int x, int y) const { return static_cast<std::size_t>(y) * w_ + x; }
  // The whole pixels an area touches, cut to the canvas: x0, y0, x1, y1.
  std::array<int, 4> pixel_span(const box& area) const;
  int w_, h_;
  std::vector<rgba> px_;
};

// Signed distances (negative inside), all in texels.
float sd_round_box(float x, float y, const box& b, float radius);
float sd_circle(float x, float y, float cx, float cy, float r);
float sd_segment(float x, float y, float ax, float ay, float bx, float by);
// Anti-aliased coverage from a signed distance.
inline float aa(float d) {
  return clamp01(0.5f - d);
}
