#pragma once
// Shape helpers on top of the canvas: rounded cards, borders, soft shadows,
// gradients.
#include <functional>

#include "canvas.h"

using paint_fn = std::function<rgba(float, float)>;

// A vertical gradient: `bottom` at y0, `top` at y1.
paint_fn vgrad(float y0, const rgba& bottom, float y1, const rgba& top);
inline paint_fn solid(const rgba& c) {
  return [c](float, float) { return c; };
}

// Rounded rectangle filled with `paint`.
void rounded(canvas& c, const box& b, float radius, const paint_fn& paint);
// A band `width` wide just inside the rounded rectangle's edge.
void rounded_border(canvas& c, const box& b, float radius, float width, const rgba& colour);
// Soft shadow of a rounded rectangle: full `alpha` inside, fading over `blur`.
void shadow(canvas& c, const box& b, float radius, float blur, float alpha);
// Anti-aliased line of the given width.
void line(canvas& c, float x0, float y0, float x1, float y1, float width, const rgba& colour);
// Filled circle.
void disc(canvas& c, float cx, float cy, float r, const paint_fn& paint);
