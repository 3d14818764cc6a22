#include "text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <cstdlib>

font_face::font_face(const std::string& path) {
  if (FT_Init_FreeType(&lib_) || FT_New_Face(lib_, path.c_str(), 0, &face_)) {
    std::fprintf(stderr, "cannot open the font %s\n", path.c_str());
    std::exit(1);
  }
}

font_face::~font_face() {
  if (face_) FT_Done_Face(face_);
  if (lib_) FT_Done_FreeType(lib_);
}

glyph_bitmap font_face::render(std::uint32_t codepoint, float px, float xscale, float dx) const {
  FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(std::lround(px * 64)), 72, 72);
  FT_Matrix m{static_cast<FT_Fixed>(std::lround(xscale * 65536.0)), 0, 0, 0x10000};
  FT_Vector delta{static_cast<FT_Pos>(std::lround(dx * 64)), 0};
  FT_Set_Transform(face_, &m, &delta);
  glyph_bitmap g;
  if (FT_Load_Char(face_, codepoint, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT)) return g;
  const FT_Bitmap& bm = face_->glyph->bitmap;
  g.width = static_cast<int>(bm.width);
  g.rows = static_cast<int>(bm.rows);
  g.left = face_->glyph->bitmap_left;
  g.top = face_->glyph->bitmap_top;
  g.advance = face_->glyph->advance.x / 64.0f;
  g.coverage.resize(static_cast<std::size_t>(g.width) * g.rows);
  for (int r = 0; r < g.rows; ++r)
    for (int x = 0; x < g.width; ++x)
      g.coverage[static_cast<std::size_t>(r) * g.width + x] = bm.buffer[r * bm.pitch + x] / 255.0f;
  FT_Set_Transform(face_, nullptr, nullptr);
  return g;
}

float font_face::measure(const std::string& text, float px, float tracking) const {
  float pen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    pen += render(static_cast<unsigned char>(text[i]), px).advance;
    if (i + 1 < text.size()) pen += tracking;
  }
  return pen;
}

float font_face::draw(canvas& c, const std::string& text, float px, float x, float baseline,
                      const rgba& colour, float tracking) const {
  float pen = x;
  for (unsigned char ch : text) {
    const float whole = std::floor(pen);
    const glyph_bitmap g = render(ch, px, 1.0f, pen - whole);
    const int ox = static_cast<int>(whole) + g.left;
    const int oy = static_cast<int>(std::lround(baseline)) + g.top - 1;  // y of the bitmap's top row
    for (int r = 0; r < g.rows; ++r)
      for (int i = 0; i < g.width; ++i) {
        const float cov = g.at(i, r);
        if (cov > 0) c.blend(ox + i, oy - r, colour, cov);
      }
    pen += g.advance + tracking;
  }
  return pen;
}
