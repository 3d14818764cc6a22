#pragma once
// The proportional bitmap font of the interface image (texture 392): one copy
// of its metrics for the whole program. The text drawing (`chr_dx`,
// `OGL_string`) and the picture generator in tools/asset-gen both read these
// tables, so the glyphs in the image and the widths used for layout can never
// disagree.
//
// Geometry: glyph cells are kGlyphCellW x kGlyphCellH texels, cell (column, row)
// has its lower-left texel at (column * 14, row * 15) of the 512 x 512 image,
// rows counted from the first stored row (the bottom of a glyph as drawn).
// A glyph's ink lies inside its cell and inside its advance width: texel
// columns 0 .. advance-1 of the cell. Bytes without a glyph of their own use
// cell (0, 0), which is blank, so they draw nothing.
#include <cstdint>

constexpr int kGlyphCellW = 14;  // texels
constexpr int kGlyphCellH = 15;  // texels
// The first cell row above the baseline: capitals and x-height letters start
// here, descenders use the rows below it. Text drawn at y has its baseline at
// y - 1 in screen pixels (the quad starts 6 px below the given y).
constexpr int kGlyphBaselineRow = 5;

struct glyph_cell {
  int column;
  int row;
};

// Advance width in pixels of byte `c` in the proportional font; 0 for every
// byte the font does not advance over (control bytes, '"', '{', '}', '~' and
// most bytes above 126).
int font_advance(unsigned char c);

// The cell that holds the glyph of byte `c`; (0, 0) (blank) when it has none.
glyph_cell font_cell(unsigned char c);

// True when byte `c` has a cell of its own (it may still be blank, as the
// space is). Every byte with a non-zero advance has one.
bool font_has_cell(unsigned char c);
