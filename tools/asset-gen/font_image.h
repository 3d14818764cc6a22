#pragma once
// The proportional bitmap font drawn into the interface image.
#include <string>
#include <vector>

#include "canvas.h"
#include "text.h"

struct font_style {
  float px = 10.0f;     // pixels per em
  float gamma = 1.25f;  // coverage is raised to 1/gamma so small text does not look thin
};

// Draws every glyph of the font table into its cell of `image` (white, alpha =
// coverage). Each glyph's ink is kept inside its cell and its advance width;
// glyphs too wide for their advance are narrowed. Returns one line per
// glyph that had to be narrowed or clipped (for the generator's log).
std::vector<std::string> draw_interface_font(canvas& image, const font_face& face, const font_style& style);
