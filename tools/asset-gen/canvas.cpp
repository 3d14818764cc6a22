#include "canvas.h"

#include <png.h>

#include <cstdio>

rgba hex(std::uint32_t rgb, float a) {
  return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, a};
}

rgba mix(const rgba& x, const rgba& y, float t) {
  return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t, x.a + (y.a - x.a) * t};
}

void canvas::blend(int x, int y, const rgba& c, float cov) {
  if (!inside(x, y)) return;
  rgba& d = px_[idx(x, y)];
  const float sa = clamp01(c.a * cov);
  if (sa <= 0) return;
  const float oa = sa + d.a * (1 - sa);
  if (oa <= 0) {
    d = {};
    return;
  }
  d.r = (c.r * sa + d.r * d.a * (1 - sa)) / oa;
  d.g = (c.g * sa + d.g * d.a * (1 - sa)) / oa;
  d.b = (c.b * sa + d.b * d.a * (1 - sa)) / oa;
  d.a = oa;
}

void canvas::clear(int x0, int y0, int x1, int y1) {
  for (int y = std::max(0, y0); y < std::min(h_, y1); ++y)
    for (int x = std::max(0, x0); x < std::min(w_, x1); ++x) px_[idx(x, y)] = {};
}

std::array<int, 4> canvas::pixel_span(const box& area) const {
  return {
      std::max(0, static_cast<int>(std::floor(area.x0))), std::max(0, static_cast<int>(std::floor(area.y0))),
      std::min(w_, static_cast<int>(std::ceil(area.x1))), std::min(h_, static_cast<int>(std::ceil(area.y1)))};
}

void canvas::fill(const box& area, const std::function<float(float, float)>& coverage,
                  const std::function<rgba(float, float)>& paint) {
  const auto [x0, y0, x1, y1] = pixel_span(area);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const float cx = x + 0.5f, cy = y + 0.5f;
      const float cov = coverage(cx, cy);
      if (cov > 0) blend(x, y, paint(cx, cy), cov);
    }
}

void canvas::fill_ss(const box& area, int n, const std::function<float(float, float)>& coverage,
                     const std::function<rgba(float, float)>& paint) {
  const auto [x0, y0, x1, y1] = pixel_span(area);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      // Average the samples' colours weighted by their coverage.
      float sr = 0, sg = 0, sb = 0, sa = 0, cov_sum = 0;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          const float sx = x + (i + 0.5f) / n, sy = y + (j + 0.5f) / n;
          const float cov = coverage(sx, sy);
          if (cov <= 0) continue;
          const rgba c = paint(sx, sy);
          const float w = cov * c.a;
          sr += c.r * w, sg += c.g * w, sb += c.b * w, sa += w, cov_sum += cov;
        }
      if (sa <= 0) continue;
      const rgba c{sr / sa, sg / sa, sb / sa, sa / (n * n)};
      blend(x, y, c, 1.0f);
    }
}

void canvas::draw(const canvas& src, int x, int y, const rgba& tint) {
  for (int j = 0; j < src.height(); ++j)
    for (int i = 0; i < src.width(); ++i) {
      rgba c = src.get(i, j);
      c.r *= tint.r, c.g *= tint.g, c.b *= tint.b, c.a *= tint.a;
      blend(x + i, y + j, c);
    }
}

void canvas::copy_from(const canvas& src, int sx, int sy, int w, int h, int dx, int dy) {
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i)
      if (src.inside(sx + i, sy + j)) set(dx + i, dy + j, src.get(sx + i, sy + j));
}

bool canvas::write_png(const std::string& path) const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w_) * h_ * 4);
  auto q = [](float v) { return static_cast<std::uint8_t>(std::lround(clamp01(v) * 255.0f)); };
  for (int y = 0; y < h_; ++y) {
    std::uint8_t* row = &bytes[static_cast<std::size_t>(h_ - 1 - y) * w_ * 4];
    for (int x = 0; x < w_; ++x) {
      const rgba& c = px_[idx(x, y)];
      const std::uint8_t a = q(c.a);
      // Fully transparent pixels are stored as transparent black so that the
      // files are stable and compress well.
      row[x * 4 + 0] = a ? q(c.r) : 0;
      row[x * 4 + 1] = a ? q(c.g) : 0;
      row[x * 4 + 2] = a ? q(c.b) : 0;
      row[x * 4 + 3] = a;
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w_);
  image.height = static_cast<png_uint_32>(h_);
  image.format = PNG_FORMAT_RGBA;
  const int ok = png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr);
  if (!ok) std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), image.message);
  png_image_free(&image);
  return ok != 0;
}

float sd_round_box(float x, float y, const box& b, float radius) {
  const float cx = (b.x0 + b.x1) * 0.5f, cy = (b.y0 + b.y1) * 0.5f;
  const float hx = (b.x1 - b.x0) * 0.5f - radius, hy = (b.y1 - b.y0) * 0.5f - radius;
  const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
  const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

float sd_circle(float x, float y, float cx, float cy, float r) {
  return std::hypot(x - cx, y - cy) - r;
}

float sd_segment(float x, float y, float ax, float ay, float bx, float by) {
  const float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
  const float h = std::clamp((px * dx + py * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
  return std::hypot(px - dx * h, py - dy * h);
}
