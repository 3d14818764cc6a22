#include <cmath>
#include <vector>

#include "noise.h"
#include "paint.h"
#include "pictures.h"
#include "theme.h"

namespace {

using namespace theme;

constexpr float kFooterTop = 112;  // the controls' band at the bottom
constexpr float kHeaderBottom = 690;

struct pt {
  float x, y;
};

bool inside_polygon(const std::vector<pt>& poly, float x, float y) {
  bool in = false;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
    const pt& a = poly[i];
    const pt& b = poly[j];
    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
  }
  return in;
}

rgba sky(float x, float y) {
  const float t = clamp01((y - 120) / (kHeaderBottom - 120));
  rgba c = mix(hex(0xe9f2fa), hex(0x9cc6ea), smoothstep(0.0f, 0.55f, t));
  c = mix(c, hex(0x6aa5db), smoothstep(0.55f, 1.0f, t));
  // Warm light from the sun on the right.
  const float d = std::hypot(x - 860, y - 520) / 330.0f;
  c = mix(c, hex(0xfff6e4), 0.42f * std::pow(clamp01(1 - d), 2.0f));
  return c;
}

void draw_clouds(canvas& c) {
  c.fill(
      {0, kFooterTop, 1024, kHeaderBottom},
      [](float x, float y) {
        // Two soft bands of cloud: low over the hills, thin high wisps.
        const float low = std::exp(-std::pow((y - 255) / 70.0f, 2.0f));
        const float high = 0.55f * std::exp(-std::pow((y - 470) / 40.0f, 2.0f));
        const float n = fbm2(x / 150.0f, y / 48.0f, 5);
        const float density = smoothstep(0.50f, 0.72f, n) * low + smoothstep(0.55f, 0.75f, n) * high;
        // Keep the left column, where the server names are written, calm.
        const float calm = smoothstep(150, 260, x) * 0.85f + 0.15f;
        return clamp01(density * calm) * 0.9f;
      },
      [](float x, float y) {
        const float shade = fbm2(x / 60.0f + 9, y / 30.0f, 3);
        return mix(hex(0xffffff), hex(0xdbe7f3), clamp01(shade * 0.9f - 0.1f));
      });
}

void draw_hills(canvas& c) {
  struct layer {
    float base, height, scale;
    rgba top, bottom;
    int seed;
  };
  const layer layers[] = {
      {200, 70, 260, hex(0xbcd2e6), hex(0xd3e2ef), 1},
      {170, 60, 190, hex(0x9dbbd8), hex(0xbcd1e4), 2},
      {140, 48, 140, hex(0x7f9fc2), hex(0xa0bad3), 3},
  };
  for (const auto& l : layers) {
    c.fill(
        {0, kFooterTop - 2, 1024, l.base + l.height + 2},
        [&](float x, float y) {
          const float ridge =
              l.base + l.height * (fbm2(x / l.scale + l.seed * 17.0f, l.seed * 3.3f, 4) - 0.3f);
          return clamp01(ridge - y + 0.5f);
        },
        vgrad(kFooterTop, l.bottom, l.base + l.height, l.top));
  }
}

// A small airliner climbing to the right, with its contrail.
void draw_plane(canvas& c) {
  const float px = 742, py = 478, ang = 0.21f;
  const float ca = std::cos(ang), sa = std::sin(ang);
  auto tx = [&](float x, float y) { return pt{px + x * ca - y * sa, py + x * sa + y * ca}; };
  // Contrail: a soft line that fades out behind the aircraft.
  const pt tail = tx(-30, 1);
  const float len = 430;
  c.fill(
      {tail.x - len - 10, tail.y - len * sa - 20, tail.x + 2, tail.y + 8},
      [&](float x, float y) {
        const float lx = (x - tail.x) * ca + (y - tail.y) * sa;
        const float ly = -(x - tail.x) * sa + (y - tail.y) * ca;
        if (lx > 0 || lx < -len) return 0.0f;
        const float t = -lx / len;
        const float w = 1.2f + 5.0f * t;
        return (1 - smoothstep(0, w, std::fabs(ly))) * (1 - t) * 0.75f;
      },
      solid(hex(0xffffff)));
  const std::vector<pt> body = {tx(-30, -2),  tx(22, -2.5f), tx(30, -0.8f), tx(31, 0.8f),
                                tx(27, 2.6f), tx(15, 3.6f),  tx(-22, 3.6f), tx(-30, 2)};
  const std::vector<pt> fin = {tx(-29, 2), tx(-34, 13), tx(-29, 13), tx(-19, 3)};
  const std::vector<pt> wing = {tx(-2, 0), tx(10, 0), tx(-6, -12), tx(-11, -12)};
  const std::vector<pt> stab = {tx(-28, 1), tx(-22, 1), tx(-31, -4), tx(-33, -4)};
  // The far wing shows above the fuselage, a shade lighter; an engine hangs under the near wing.
  const std::vector<pt> far_wing = {tx(-1, 3), tx(7, 3), tx(-4, 8.5f), tx(-8, 8.5f)};
  const std::vector<pt> engine = {tx(-1, -3.2f), tx(6.5f, -3.2f), tx(8, -4.7f), tx(6.5f, -6.2f),
                                  tx(-1, -6.2f)};
  const rgba ink = hex(0x2a4866);
  auto paint_poly = [&](const std::vector<pt>& poly, const rgba& colour) {
    c.fill_ss(
        {px - 45, py - 30, px + 45, py + 30}, 4,
        [&](float x, float y) { return inside_polygon(poly, x, y) ? 1.0f : 0.0f; }, solid(colour));
  };
  paint_poly(far_wing, hex(0x4a6a8a));
  for (const auto* poly : {&wing, &stab, &body, &fin}) paint_poly(*poly, ink);
  paint_poly(engine, hex(0x1f3a56));
}

void draw_header(canvas& c, const fonts& f) {
  c.fill(
      {0, kHeaderBottom, 1024, 768}, [](float, float) { return 1.0f; },
      vgrad(kHeaderBottom, hex(0x1b3b5f), 768, hex(0x0e2037)));
  // Accent rule under the header.
  c.fill(
      {0, kHeaderBottom - 2, 1024, kHeaderBottom}, [](float, float) { return 1.0f; },
      [](float x, float) { return mix(kAccent, hex(0x5cc8f5), x / 1024.0f); });
  // The mark: a swept vane in a rounded square.
  const float mx = 26, my = 711;
  rounded(c, {mx, my, mx + 36, my + 36}, 9, vgrad(my, kAccentDark, my + 36, kAccentLight));
  const std::vector<pt> vane = {{mx + 8, my + 10}, {mx + 29, my + 27}, {mx + 17, my + 12}, {mx + 28, my + 9}};
  c.fill_ss(
      {mx, my, mx + 36, my + 36}, 4,
      [&](float x, float y) { return inside_polygon(vane, x, y) ? 1.0f : 0.0f; }, solid(hex(0xffffff)));
  float x = f.bold.draw(c, "SKYVANE", 26, mx + 50, 718, hex(0xffffff), 2.0f);
  f.bold.draw(c, "9", 26, x + 8, 718, hex(0x6cc0f7), 0);
  const std::string sub = "INSTALLER  &  UPDATER";
  const float w = f.regular.measure(sub, 11, 2.2f);
  f.regular.draw(c, sub, 11, 996 - w, 724, hex(0x9dbbd9), 2.2f);
}

void draw_footer(canvas& c) {
  // A soft shadow above, then the light band the controls sit on.
  c.fill(
      {0, kFooterTop, 1024, kFooterTop + 10},
      [](float, float y) { return 0.10f * std::pow(1 - clamp01((y - kFooterTop) / 10), 2.0f); },
      solid(kShadow));
  c.fill(
      {0, 0, 1024, kFooterTop}, [](float, float) { return 1.0f; },
      vgrad(0, hex(0xe9eef4), kFooterTop, hex(0xf6f8fb)));
  c.fill(
      {0, kFooterTop - 1, 1024, kFooterTop}, [](float, float) { return 1.0f; }, solid(hex(0xcdd7e2)));
}

}  // namespace

canvas make_background(const fonts& f) {
  canvas c(1024, 768);
  c.fill(
      {0, 0, 1024, 768}, [](float, float) { return 1.0f; }, sky);
  draw_clouds(c);
  draw_plane(c);
  draw_hills(c);
  draw_footer(c);
  draw_header(c, f);
  return c;
}
