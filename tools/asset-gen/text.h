#pragma once
// FreeType access for the generator: glyph coverage bitmaps for the
// interface font, and anti-aliased text drawn onto a canvas (button faces,
// the wordmark of the background).
#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

// Coverage of one rendered glyph: `rows` rows of `width` values in 0..1,
// the first row being the top one; `left` and `top` place the bitmap
// relative to the pen position on the baseline (y up).
struct glyph_bitmap {
  int width = 0, rows = 0, left = 0, top = 0;
  float advance = 0;  // pixels
  std::vector<float> coverage;
  float at(int x, int row) const { return coverage[static_cast<std::size_t>(row) * width + x]; }
};

class font_face {
 public:
  // Ends the program with a message when the file cannot be opened.
  explicit font_face(const std::string& path);
  ~font_face();
  font_face(const font_face&) = delete;
  font_face& operator=(const font_face&) = delete;

  // Renders `codepoint` at `px` pixels per em, squeezed horizontally by
  // `xscale` and shifted right by `dx` pixels (sub-pixel placement). Light
  // hinting keeps the vertical metrics on whole pixels.
  glyph_bitmap render(std::uint32_t codepoint, float px, float xscale = 1.0f, float dx = 0.0f) const;

  // Width of a Latin-1 text in pixels, with `tracking` extra pixels between letters.
  float measure(const std::string& text, float px, float tracking = 0.0f) const;

  // Draws a Latin-1 text with its pen starting at (x, baseline) on the
  // canvas (y up); returns the pen position after the text.
  float draw(canvas& c, const std::string& text, float px, float x, float baseline, const rgba& colour,
             float tracking = 0.0f) const;

 private:
  FT_LibraryRec_* lib_ = nullptr;
  FT_FaceRec_* face_ = nullptr;
};
