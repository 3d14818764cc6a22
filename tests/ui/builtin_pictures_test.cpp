// The built-in pictures and the font table that goes with them: sizes, row
// order, the palette pixels and their legibility, every glyph inside its cell
// and advance, and every rectangle the drawing code cuts out of the pictures
// holding opaque, seamlessly stretchable art. Pure: no window needed.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/font_table.h"
#include "ui/screen_rects.h"
#include "ui/texes.h"

namespace {

struct px {
  int r, g, b, a;
};

px at(const builtin_picture& p, int x, int y) {
  const std::uint8_t* q = &p.rgba[(static_cast<std::size_t>(y) * p.width + x) * 4];
  return {q[0], q[1], q[2], q[3]};
}

const builtin_picture& pic(int tex) {
  const builtin_picture* p = builtin_picture_get(tex);
  if (!p) throw std::runtime_error("missing built-in picture " + std::to_string(tex));
  return *p;
}

// A rectangle of texels, y counted from the first stored row.
struct rect {
  std::string name;
  int x, y, w, h;
};

int opaque_count(const builtin_picture& p, const rect& r) {
  int n = 0;
  for (int y = r.y; y < r.y + r.h; ++y)
    for (int x = r.x; x < r.x + r.w; ++x) n += at(p, x, y).a == 255;
  return n;
}

// WCAG relative luminance and contrast ratio of two colours.
double luminance(double r, double g, double b) {
  auto lin = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
  return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
}
double contrast(const px& a, const px& b) {
  const double la = luminance(a.r / 255.0, a.g / 255.0, a.b / 255.0);
  const double lb = luminance(b.r / 255.0, b.g / 255.0, b.b / 255.0);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
// `c` multiplied by a tint, as the program draws image buttons.
px tinted(px c, double r, double g, double b) {
  return {static_cast<int>(c.r * r), static_cast<int>(c.g * g), static_cast<int>(c.b * b), c.a};
}

px palette(int col) {
  for (const auto& e : kPalettePixels)
    if (e.col == col) return at(pic(392), e.x, e.y);
  return {};
}

// 18 x 18 icon cells, by their lower-left texel.
std::vector<rect> interface_icons() {
  std::vector<rect> icons;
  for (const auto& i : kIconCells)
    icons.push_back(
        {i.name, i.cx - kIconCellSize / 2, i.cy - kIconCellSize / 2, kIconCellSize, kIconCellSize});
  return icons;
}

// Every rectangle the drawing code cuts out of the interface image (bars
// clipped at the top edge; styles 0 and 1 reach one texel past it).
std::vector<rect> interface_cuts() {
  std::vector<rect> cuts;
  for (const auto& b : kBarCells)
    cuts.push_back(
        {"bar style " + std::to_string(b.style), b.u, b.v, b.strip, std::min(b.height, 512 - b.v)});
  for (const auto& f : kFrameCells) {
    if (f.style == kAtlasFrameStyle) continue;  // cut from the atlas
    cuts.push_back({"frame style " + std::to_string(f.style), f.u, f.v, f.cell, f.cell});
  }
  for (const auto& i : interface_icons()) cuts.push_back(i);
  return cuts;
}

bool overlaps(const rect& a, const rect& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

std::vector<rect> atlas_cuts() {
  std::vector<rect> cuts;
  for (const auto& b : kAtlasButtons)
    for (int look = 0; look < 3; ++look)
      cuts.push_back({std::string(b.name) + (look == 0   ? ""
                                             : look == 1 ? " mouse-over"
                                                         : " pressed"),
                      b.s, b.t - look * (b.dt + 1), b.ds, b.dt});
  cuts.push_back({"source picture", kAtlasSourcePicture.s, kAtlasSourcePicture.t, kAtlasSourcePicture.ds,
                  kAtlasSourcePicture.dt});
  for (int c = kGlobeFirstIcon; c <= kGlobeLastIcon; ++c)
    cuts.push_back({"globe icon " + std::to_string(c), atlas_icon_s(c), atlas_icon_t(c), kAtlasIconSize,
                    kAtlasIconSize});
  const frame_cell& panel = *frame_cell_of(kAtlasFrameStyle);
  cuts.push_back({"frame style 20", panel.u, panel.v, panel.cell, panel.cell});
  return cuts;
}

// --- pictures ---------------------------------------------------------------

TEST(BuiltinPictures, HaveTheSizesTheDrawingCodeAddresses) {
  const struct { int tex, w, h; } sizes[] = {{392, 512, 512}, {393, 1010, 764}, {394, 1024, 768}};
  for (const auto& s : sizes) {
    const builtin_picture& p = pic(s.tex);
    EXPECT_EQ(p.tex_num, s.tex);
    EXPECT_EQ(p.width, s.w) << "texture " << s.tex
                            << ": the drawing code's texel positions assume this width";
    EXPECT_EQ(p.height, s.h) << "texture " << s.tex;
    EXPECT_EQ(p.rgba.size(), static_cast<std::size_t>(s.w) * s.h * 4) << "4 bytes per pixel, no padding";
  }
  EXPECT_EQ(builtin_picture_get(391), nullptr) << "only the three built-in numbers have pictures";
  EXPECT_EQ(builtin_picture_get(395), nullptr);
  EXPECT_EQ(builtin_picture_get(392), builtin_picture_get(392)) << "decoded once, the same copy every time";
}

TEST(BuiltinPictures, DecodeGivesBottomRowFirstAndRejectsBadData) {
  // A 1 x 2 picture, red on top and blue below, written by libpng.
  const std::uint8_t pixels[] = {255, 0, 0, 255, 0, 0, 255, 255};
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 1, image.height = 2, image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr));
  std::vector<std::uint8_t> file(size);
  ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, pixels, 0, nullptr));
  builtin_picture p;
  std::string error;
  ASSERT_TRUE(decode_png_bottom_up(file.data(), size, &p, &error)) << error;
  EXPECT_EQ(p.width, 1);
  EXPECT_EQ(p.height, 2);
  EXPECT_EQ(p.rgba[2], 255) << "row 0 is the bottom row of the file (texture t = 0 is drawn at the bottom)";
  EXPECT_EQ(p.rgba[4], 255) << "row 1 is the top row";

  file.resize(size / 2);
  EXPECT_FALSE(decode_png_bottom_up(file.data(), file.size(), &p, &error)) << "a cut file is refused";
  EXPECT_FALSE(error.empty()) << "with a reason";
  const std::uint8_t junk[] = {'n', 'o', 't', ' ', 'p', 'n', 'g'};
  EXPECT_FALSE(decode_png_bottom_up(junk, sizeof junk, &p, &error));

  std::size_t embedded = 0;
  EXPECT_NE(builtin_picture_png(393, &embedded), nullptr);
  EXPECT_GT(embedded, 1000u) << "the atlas is compiled into the program";
  EXPECT_EQ(builtin_picture_png(7, &embedded), nullptr);
  EXPECT_EQ(embedded, 0u);
}

TEST(BuiltinPictures, BackgroundIsOpaqueEverywhere) {
  const builtin_picture& bg = pic(394);
  int holes = 0;
  for (int y = 0; y < bg.height; ++y)
    for (int x = 0; x < bg.width; ++x) holes += at(bg, x, y).a != 255;
  EXPECT_EQ(holes, 0) << "the backdrop is drawn blended over the fill colour: a hole would show it";
}

// --- palette ------------------------------------------------------------------

TEST(BuiltinPictures, PalettePixelsAreOpaqueAndTextReadsOnItsSurfaces) {
  for (const auto& e : kPalettePixels)
    EXPECT_EQ(at(pic(392), e.x, e.y).a, 255) << "colour " << e.col << " is taken as an opaque colour";

  const builtin_picture& ui = pic(392);
  const builtin_picture& atlas = pic(393);
  const builtin_picture& bg = pic(394);
  struct pairing {
    const char* what;
    int col;
    px surface;
  } pairs[] = {
      {"alert text on the alert body (frame 13 centre)", 43, at(ui, 203 + 50, 358 + 50)},
      {"question text on the window body (frame 11 centre)", 43, at(ui, 1 + 50, 358 + 50)},
      {"window title on the title band of frame 11", 40, at(ui, 1 + 50, 358 + 85)},
      {"push button label on bar 2", 43, at(ui, 304 + 26, 486 + 12)},
      {"push button label on pressed bar 3", 43, at(ui, 304 + 26, 459 + 12)},
      {"destination path in the field (bar 9)", 45, at(ui, 262 + 25, 133 + 12)},
      {"hover help on the help box (frame 14 centre)", 47, at(ui, 304 + 50, 358 + 50)},
      {"main-screen text on the panels (frame 20 centre)", 46, at(atlas, 774 + 20, 78 + 20)},
      {"panel titles on the panels (frame 20 centre)", 43, at(atlas, 774 + 20, 78 + 20)},
      {"good news (colour 13) on the panels", -13, at(atlas, 774 + 20, 78 + 20)},
      {"server names left of the radio buttons, on the backdrop", 43, at(bg, 70, 575)},
      {"server names lower down", 43, at(bg, 70, 395)},
  };
  for (const auto& p : pairs) {
    const px text = p.col == -13 ? px{0, 102, 0, 255} : palette(p.col);
    EXPECT_EQ(p.surface.a, 255) << p.what << ": the surface is solid";
    EXPECT_GE(contrast(text, p.surface), 4.5) << p.what << " must be legible (WCAG AA contrast)";
  }
  EXPECT_GE(contrast(palette(34), palette(40)), 3.0) << "the fill behind modal windows sets the window apart";
}

// --- font -----------------------------------------------------------------------

TEST(FontTable, AdvanceWidthsMatchTheProportionalFontTable) {
  const struct {
    int width;
    const char* chars;
  } groups[] = {{2, ",."},
                {3, " '/:;I\\`ijl|"},
                {4, "!()-J[]frst"},
                {5, "c"},
                {6, "#$*0123456789?EFLPSTZ^_aekvxyz"},
                {7, "+<=>BCKRVXYbdghnopqu"},
                {8, "&ADGHNU"},
                {9, "@OQw"},
                {10, "Mm"},
                {11, "%W"}};
  int listed = 0;
  for (const auto& g : groups)
    for (const char* c = g.chars; *c; ++c, ++listed)
      EXPECT_EQ(font_advance(static_cast<unsigned char>(*c)), g.width) << "advance of '" << *c << "'";
  EXPECT_EQ(listed, 95 - 4) << "every printable ASCII character but four is listed";
  for (int zero : {int{'"'}, int{'{'}, int{'}'}, int{'~'}, 9, 10, 0, 127, 200, 255})
    EXPECT_EQ(font_advance(static_cast<unsigned char>(zero)), 0) << "byte " << zero << " does not advance";
  for (int b : {191, 193, 201, 205, 209, 211, 218, 225, 233, 237, 241, 243, 250})
    EXPECT_EQ(font_advance(static_cast<unsigned char>(b)), 6) << "accented byte " << b;
  EXPECT_EQ(font_advance(251), 3);
  EXPECT_EQ(font_advance('M') + font_advance('m'), 20) << "M, m is 20 px wide";
  EXPECT_EQ(font_advance('O') + font_advance('K'), 16) << "OK is 16 px wide";
}

TEST(FontTable, CellsFollowTheGlyphRowsAndNeverShareOrCollide) {
  const struct {
    char c;
    int column, row;
  } given[] = {{'0', 1, 0},  {'1', 2, 0},  {'9', 10, 0}, {'A', 11, 0}, {'B', 13, 0}, {'C', 15, 0},
               {'D', 17, 0}, {'E', 19, 0}, {'F', 0, 1},  {'G', 2, 1},  {'P', 20, 1}, {'Q', 1, 2},
               {'!', 0, 3},  {'#', 2, 3},  {'$', 3, 3},  {'%', 4, 3}};
  for (const auto& g : given) {
    EXPECT_EQ(font_cell(static_cast<unsigned char>(g.c)).column, g.column)
        << "cell column of '" << g.c << "'";
    EXPECT_EQ(font_cell(static_cast<unsigned char>(g.c)).row, g.row) << "cell row of '" << g.c << "'";
  }
  EXPECT_EQ(font_cell(0x7f).column + font_cell(0x7f).row, 0) << "bytes without a glyph use cell (0, 0)";
  EXPECT_FALSE(font_has_cell(0x7f));

  std::vector<rect> others = interface_cuts();
  for (const auto& e : kPalettePixels)
    others.push_back({"palette pixel " + std::to_string(e.col), e.x, e.y, 1, 1});
  std::vector<int> owner(64 * 64, -1);
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    if (!font_has_cell(c)) continue;
    const glyph_cell cell = font_cell(c);
    const rect r{"glyph", cell.column * kGlyphCellW, cell.row * kGlyphCellH, kGlyphCellW, kGlyphCellH};
    ASSERT_LE(r.x + r.w, 512) << "glyph cell of byte " << b << " inside the image";
    ASSERT_LE(r.y + r.h, 512);
    int& slot = owner[cell.row * 64 + cell.column];
    EXPECT_EQ(slot, -1) << "bytes " << slot << " and " << b << " share a cell";
    slot = b;
    for (const auto& o : others)
      EXPECT_FALSE(overlaps(r, o)) << "glyph of byte " << b << " overlaps " << o.name;
  }
  for (int b = 32; b < 127; ++b)
    EXPECT_TRUE(font_has_cell(static_cast<unsigned char>(b))) << "printable " << b;
}

TEST(BuiltinPictures, EveryGlyphInkStaysInsideItsCellAndAdvance) {
  const builtin_picture& ui = pic(392);
  for (int b = 1; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    if (!font_has_cell(c)) continue;
    const glyph_cell cell = font_cell(c);
    const int adv = font_advance(c);
    int ink = 0, outside = 0;
    for (int y = 0; y < kGlyphCellH; ++y)
      for (int x = 0; x < kGlyphCellW; ++x) {
        if (at(ui, cell.column * kGlyphCellW + x, cell.row * kGlyphCellH + y).a == 0) continue;
        ++ink;
        outside += x >= adv;
      }
    EXPECT_EQ(outside, 0) << "byte " << b << ": ink beyond its advance of " << adv
                          << " px would touch the next glyph";
    const bool visible = adv > 0 && c != ' ';
    if (visible) {
      EXPECT_GT(ink, 0) << "byte " << b << " has a glyph";
    } else {
      EXPECT_EQ(ink, 0) << "byte " << b << " draws nothing: it does not advance";
    }
  }
  // Characters without a glyph are drawn from cell (0, 0): it must be blank.
  for (int y = 0; y < kGlyphCellH; ++y)
    for (int x = 0; x < kGlyphCellW; ++x) ASSERT_EQ(at(ui, x, y).a, 0) << "cell (0, 0) is blank";
}

TEST(BuiltinPictures, EveryVisibleGlyphIsItsOwn) {
  // Two characters drawn from identical cells would read the same on screen
  // (a slip in the cell table or the generator).
  const builtin_picture& ui = pic(392);
  std::vector<std::pair<int, std::string>> seen;
  for (int b = 33; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    if (!font_has_cell(c) || font_advance(c) == 0) continue;
    const glyph_cell cell = font_cell(c);
    std::string bits;
    for (int y = 0; y < kGlyphCellH; ++y)
      for (int x = 0; x < kGlyphCellW; ++x)
        bits += static_cast<char>(at(ui, cell.column * kGlyphCellW + x, cell.row * kGlyphCellH + y).a / 64);
    for (const auto& [other, other_bits] : seen)
      EXPECT_NE(bits, other_bits) << "bytes " << other << " and " << b;
    seen.emplace_back(b, bits);
  }
}

TEST(BuiltinPictures, TopTexelRowSampledByBarsZeroAndOneIsClear) {
  // Bars 0 and 1 are 26 texels high from row 487: their top row samples row
  // 512, which wraps to row 0 (the textures repeat).
  const builtin_picture& ui = pic(392);
  for (int x = 1; x < 202; ++x)
    EXPECT_EQ(at(ui, x, 0).a, 0) << "column " << x << " of row 0 would show on bars";
}

// --- cut rectangles --------------------------------------------------------------

TEST(BuiltinPictures, EveryInterfaceCutHoldsOpaqueArt) {
  const builtin_picture& ui = pic(392);
  const std::vector<rect> cuts = interface_cuts();
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    EXPECT_GT(opaque_count(ui, cuts[i]), cuts[i].w * cuts[i].h / 10) << cuts[i].name << " has opaque pixels";
    for (std::size_t j = i + 1; j < cuts.size(); ++j)
      EXPECT_FALSE(overlaps(cuts[i], cuts[j])) << cuts[i].name << " overlaps " << cuts[j].name;
  }
}

TEST(BuiltinPictures, BarMiddlesAndFrameEdgesStretchWithoutSeams) {
  // Bars repeat the strip's middle and frames their cell's middle: every
  // column of a bar's middle, and every row (column) of a frame's side
  // (top/bottom) edge, must be the same, or repeats would show seams.
  const builtin_picture& ui = pic(392);
  auto same = [](px a, px b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) + std::abs(a.a - b.a) <= 4;
  };
  for (const auto& b : kBarCells) {
    for (int y = b.v; y < std::min(b.v + b.height, 512); ++y)
      for (int x = b.u + b.cap; x < b.u + b.strip - b.cap; ++x)
        EXPECT_TRUE(same(at(ui, x, y), at(ui, b.u + b.cap, y)))
            << "bar style " << b.style << " middle differs at column " << x << " row " << y;
  }
  for (const auto& f : kFrameCells) {
    if (f.style == kAtlasFrameStyle) continue;  // cut from the atlas
    const int cw = f.style == 17 ? 20 : static_cast<int>(std::ceil(0.35 * f.cell));
    const int cb = f.style == 17 ? 14 : static_cast<int>(std::ceil(0.3 * f.cell));
    const int ct = f.style == 17 ? 26 : cb;
    for (int y = f.v; y < f.v + f.cell; ++y)
      for (int x = f.u + cw; x < f.u + f.cell - cw; ++x)
        EXPECT_TRUE(same(at(ui, x, y), at(ui, f.u + cw, y)))
            << "frame style " << f.style << " column " << x << " row " << y;
    for (int x = f.u; x < f.u + f.cell; ++x)
      for (int y = f.v + cb; y < f.v + f.cell - ct; ++y)
        EXPECT_TRUE(same(at(ui, x, y), at(ui, x, f.v + cb)))
            << "frame style " << f.style << " column " << x << " row " << y;
  }
}

TEST(BuiltinPictures, EveryAtlasCutHoldsOpaqueArt) {
  const builtin_picture& atlas = pic(393);
  for (const auto& r : atlas_cuts()) {
    ASSERT_LE(r.x + r.w, atlas.width) << r.name;
    ASSERT_LE(r.y + r.h, atlas.height) << r.name;
    ASSERT_GE(r.y, 0) << r.name;
    EXPECT_GT(opaque_count(atlas, r), r.w * r.h / 3) << r.name << " has opaque pixels";
  }
  const std::vector<rect> cuts = atlas_cuts();
  for (std::size_t i = 0; i < cuts.size(); ++i)
    for (std::size_t j = i + 1; j < cuts.size(); ++j)
      EXPECT_FALSE(overlaps(cuts[i], cuts[j])) << cuts[i].name << " overlaps " << cuts[j].name;
}

TEST(BuiltinPictures, ButtonLooksDifferAndTheGlobeTurns) {
  const builtin_picture& atlas = pic(393);
  auto differ = [&](const rect& a, const rect& b) {
    int n = 0;
    for (int y = 0; y < a.h; ++y)
      for (int x = 0; x < a.w; ++x) {
        const px p = at(atlas, a.x + x, a.y + y), q = at(atlas, b.x + x, b.y + y);
        n += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 24;
      }
    return n;
  };
  const std::vector<rect> cuts = atlas_cuts();
  for (int b = 0; b < 5; ++b) {
    const rect& normal = cuts[b * 3];
    EXPECT_GT(differ(normal, cuts[b * 3 + 1]), normal.w * normal.h / 4)
        << normal.name << ": mouse-over look is distinct";
    EXPECT_GT(differ(normal, cuts[b * 3 + 2]), normal.w * normal.h / 4)
        << normal.name << ": pressed look is distinct";
  }
  // Icon 21 (the idle globe) is the cell at s 320, t 194.
  EXPECT_GT(opaque_count(atlas, {"idle globe", 320, 194, 64, 64}), 64 * 64 / 3);
  for (std::size_t g = 0; g < 16; ++g) {
    const rect& a = cuts[15 + 1 + g];
    const rect& b = cuts[15 + 1 + (g + 1) % 16];
    EXPECT_GT(differ(a, b), 40) << a.name << " and the next frame differ: the globe is seen to turn";
  }
}

TEST(BuiltinPictures, EnabledButtonFacesStayLegibleUnderTheirTint) {
  // Enabled buttons are drawn tinted (0.8, 1, 0.8), the disabled Install
  // button (1, 0.8, 0.8); their words must stay readable on their faces.
  const builtin_picture& atlas = pic(393);
  for (const auto& r : atlas_cuts()) {
    if (r.h != 22) continue;
    px lightest{0, 0, 0, 0}, darkest{255, 255, 255, 255};
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x) {
        const px p = at(atlas, x, y);
        if (p.a < 255) continue;
        const int s = p.r + p.g + p.b;
        if (s > lightest.r + lightest.g + lightest.b) lightest = p;
        if (s < darkest.r + darkest.g + darkest.b) darkest = p;
      }
    EXPECT_GE(contrast(tinted(lightest, 0.8, 1, 0.8), tinted(darkest, 0.8, 1, 0.8)), 3.0)
        << r.name << " enabled";
    EXPECT_GE(contrast(tinted(lightest, 1, 0.8, 0.8), tinted(darkest, 1, 0.8, 0.8)), 3.0)
        << r.name << " disabled";
  }
}

}  // namespace
