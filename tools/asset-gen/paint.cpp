#include "paint.h"

#include "theme.h"

paint_fn vgrad(float y0, const rgba& bottom, float y1, const rgba& top) {
  return [=](float, float y) { return mix(bottom, top, clamp01((y - y0) / (y1 - y0))); };
}

void rounded(canvas& c, const box& b, float radius, const paint_fn& paint) {
  c.fill(
      {b.x0 - 1, b.y0 - 1, b.x1 + 1, b.y1 + 1},
      [&](float x, float y) { return aa(sd_round_box(x, y, b, radius)); }, paint);
}

void rounded_border(canvas& c, const box& b, float radius, float width, const rgba& colour) {
  c.fill(
      {b.x0 - 1, b.y0 - 1, b.x1 + 1, b.y1 + 1},
      [&](float x, float y) {
        const float d = sd_round_box(x, y, b, radius);
        return aa(d) * (1.0f - aa(d + width));
      },
      solid(colour));
}

void shadow(canvas& c, const box& b, float radius, float blur, float alpha) {
  c.fill(
      {b.x0 - blur - 1, b.y0 - blur - 1, b.x1 + blur + 1, b.y1 + blur + 1},
      [&](float x, float y) {
        const float d = sd_round_box(x, y, b, radius);
        const float t = 1.0f - smoothstep(-blur * 0.5f, blur, d);
        return alpha * t * t;
      },
      solid(theme::kShadow));
}

void line(canvas& c, float x0, float y0, float x1, float y1, float width, const rgba& colour) {
  const float r = width * 0.5f;
  c.fill(
      {std::min(x0, x1) - r - 1, std::min(y0, y1) - r - 1, std::max(x0, x1) + r + 1,
       std::max(y0, y1) + r + 1},
      [&](float x, float y) { return aa(sd_segment(x, y, x0, y0, x1, y1) - r); }, solid(colour));
}

void disc(canvas& c, float cx, float cy, float r, const paint_fn& paint) {
  c.fill(
      {cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1},
      [&](float x, float y) { return aa(sd_circle(x, y, cx, cy, r)); }, paint);
}
