#include <cmath>

#include "paint.h"
#include "pictures.h"

namespace {

// Coverage of the orbit ellipse's band around (cx, cy), half axes a and b,
// on the near side (below the centre) or the far side.
float orbit_band(float x, float y, float cx, float cy, float a, float b, float half_width, bool near) {
  if ((y < cy) != near) return 0.0f;
  const float ex = (x - cx) / a, ey = (y - cy) / b;
  const float d = std::fabs(std::sqrt(ex * ex + ey * ey) - 1.0f) * b;
  return aa(d - half_width);
}

}  // namespace

canvas make_icon(int size) {
  canvas c(size, size);
  // Laid out on a 256 grid and scaled, so every size shows the same picture.
  const float s = static_cast<float>(size) / 256.0f;
  const float mid = 128 * s;
  const box tile{14 * s, 18 * s, 242 * s, 242 * s};
  const float radius = 46 * s;
  shadow(c, {tile.x0, tile.y0 - 4 * s, tile.x1, tile.y1 - 4 * s}, radius, 10 * s, 0.35f);
  rounded(c, tile, radius, [&](float x, float y) {
    const float d = std::hypot(x - mid, y - mid) / (150.0f * s);
    return mix(hex(0x1f4e80), hex(0x0e2440), clamp01(d));
  });
  // The latitude arcs of the source picture, cut to the tile.
  for (int i = 1; i <= 3; ++i) {
    const float rr = (70.0f + i * 18.0f) * s;
    c.fill(
        tile,
        [&](float x, float y) {
          if (sd_round_box(x, y, tile, radius) > -1.0f) return 0.0f;
          const float d = std::fabs(std::hypot(x - mid, y - mid) - rr);
          return aa(d - std::max(0.45f, 0.9f * s)) * 0.12f;
        },
        solid(hex(0xbfe3ff)));
  }
  const float a = 100 * s, b = 34 * s, band = std::max(0.6f, 2.2f * s);
  const rgba orbit = hex(0x7cc4ff, 0.75f);
  // The orbit passes behind the globe at the top and in front at the bottom.
  c.fill(
      tile, [&](float x, float y) { return orbit_band(x, y, mid, mid, a, b, band, false); }, solid(orbit));
  const int globe_size = static_cast<int>(std::lround(176 * s));
  const int corner = static_cast<int>(std::lround(mid - globe_size * 0.5f));
  c.draw(globe(0.3f, globe_size), corner, corner);
  c.fill(
      tile, [&](float x, float y) { return orbit_band(x, y, mid, mid, a, b, band, true); }, solid(orbit));
  disc(c, mid + a * std::cos(-0.5f), mid + b * std::sin(-0.5f), std::max(1.6f, 7.0f * s),
       solid(hex(0xd7efff)));
  rounded_border(c, tile, radius, std::max(1.0f, 1.5f * s), hex(0x0a1a2e, 0.6f));
  return c;
}
