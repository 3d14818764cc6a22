#include "font_image.h"

#include <cmath>
#include <cstdio>

#include "ui/font_table.h"

namespace {

struct ink_span {
  int left = 0, right = -1;  // columns of the bitmap holding ink, inclusive
  int width() const { return right - left + 1; }
};

// Coverage below this is not counted as ink (it is dropped when drawing, too).
constexpr float kInkFloor = 1.0f / 255.0f;
// The "solid" part of a glyph, which sets its width; the faint anti-aliased
// fringe may use the free column that separates it from the next glyph.
constexpr float kSolidInk = 0.3f;

ink_span find_ink(const glyph_bitmap& g, float floor) {
  ink_span s{g.width, -1};
  for (int r = 0; r < g.rows; ++r)
    for (int x = 0; x < g.width; ++x)
      if (g.at(x, r) >= floor) s.left = std::min(s.left, x), s.right = std::max(s.right, x);
  return s;
}

// At this size a plain capital I is the very same stroke as a small l, so it
// gets short cross bars at its top and bottom ("Install", not "lnstall").
void add_serifs(canvas& image, int cell_x, int cell_y, int advance) {
  int stem = 0, top = -1, bottom = kGlyphCellH;
  float best = 0;
  for (int x = 0; x < advance; ++x)
    for (int y = 0; y < kGlyphCellH; ++y) {
      const float a = image.get(cell_x + x, cell_y + y).a;
      if (a > best) best = a, stem = x;
      if (a > 0.5f) top = std::max(top, y), bottom = std::min(bottom, y);
    }
  if (top < 0) return;
  for (int y : {top, bottom})
    for (int x = std::max(0, stem - 1); x <= std::min(advance - 1, stem + 1); ++x)
      image.set(cell_x + x, cell_y + y,
                {1, 1, 1, std::max(image.get(cell_x + x, cell_y + y).a, x == stem ? 1.0f : 0.75f)});
}

}  // namespace

std::vector<std::string> draw_interface_font(canvas& image, const font_face& face, const font_style& style) {
  std::vector<std::string> notes;
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<unsigned char>(code);
    const int advance = font_advance(c);
    if (advance == 0 || !font_has_cell(c) || c == ' ') continue;
    // Widest ink allowed: one free column on the right keeps letters apart;
    // the narrowest characters may use their whole advance.
    const int max_ink = advance >= 4 ? advance - 1 : advance;

    float xscale = 1.0f;
    glyph_bitmap g = face.render(c, style.px);
    ink_span ink = find_ink(g, kSolidInk), all = find_ink(g, kInkFloor);
    for (int attempt = 0; attempt < 12 && (ink.width() > max_ink || all.width() > advance); ++attempt) {
      xscale *= 0.96f;
      g = face.render(c, style.px, xscale);
      ink = find_ink(g, kSolidInk), all = find_ink(g, kInkFloor);
    }
    if (ink.width() <= 0) ink = all;
    if (ink.width() <= 0) continue;
    if (xscale < 1.0f) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "glyph %3d '%c' narrowed to %.0f%% for advance %d", code,
                    c < 128 ? c : '?', xscale * 100.0f, advance);
      notes.push_back(buf);
    }

    // Keep the font's own balance of left and right bearing within the room
    // the advance leaves.
    const int room = std::max(0, advance - ink.width());
    const float lsb = static_cast<float>(g.left + ink.left);
    const float rsb = g.advance - lsb - static_cast<float>(ink.width());
    int left = room / 2;
    if (lsb + rsb > 0.5f)
      left = static_cast<int>(
          std::lround(room * std::max(0.0f, lsb) / std::max(lsb + std::max(rsb, 0.0f), 0.5f)));
    // Whenever there is room, the last column stays empty so glyphs never touch.
    const int max_left = std::max(0, room - 1);
    left = std::clamp(left, 0, max_left);
    // Room permitting, keep the faint fringe on the left as well.
    left = std::max(left, std::min(ink.left - all.left, max_left));

    const glyph_cell cell = font_cell(c);
    const int cell_x = cell.column * kGlyphCellW, cell_y = cell.row * kGlyphCellH;
    for (int r = 0; r < g.rows; ++r) {
      const int row_in_cell = kGlyphBaselineRow + g.top - 1 - r;
      for (int x = all.left; x <= all.right; ++x) {
        const float cov = g.at(x, r);
        const int column = left + (x - ink.left);
        if (cov < kInkFloor || column < 0 || column >= advance) continue;
        if (row_in_cell < 0 || row_in_cell >= kGlyphCellH) {
          char buf[96];
          std::snprintf(buf, sizeof buf, "glyph %3d clipped at cell row %d", code, row_in_cell);
          notes.push_back(buf);
          break;
        }
        const float a = std::pow(cov, 1.0f / style.gamma);
        image.set(cell_x + column, cell_y + row_in_cell, {1, 1, 1, a});
      }
    }
    if (c == 'I') add_serifs(image, cell_x, cell_y, advance);
  }
  return notes;
}
