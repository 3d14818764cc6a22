#include "ui/font_table.h"

#include <array>
#include <string_view>

namespace {

// Advance widths of the proportional font, grouped by width. These are the
// layout contract of every text on screen; the glyphs are drawn to fit them.
struct width_group {
  int width;
  std::string_view ascii;          // printable ASCII characters of this width
  std::array<int, 14> high_bytes;  // bytes above 126 of this width, 0-terminated
};

constexpr width_group kWidths[] = {
    {2, ",.", {}},
    {3, " '/:;I\\`ijl|", {251}},
    {4, "!()-J[]frst", {}},
    {5, "c", {}},
    {6, "#$*0123456789?EFLPSTZ^_aekvxyz", {191, 193, 201, 205, 209, 211, 218, 225, 233, 237, 241, 243, 250}},
    {7, "+<=>BCKRVXYbdghnopqu", {}},
    {8, "&ADGHNU", {}},
    {9, "@OQw", {}},
    {10, "Mm", {}},
    {11, "%W", {}},
};

struct tables {
  std::array<std::uint8_t, 256> advance{};
  std::array<glyph_cell, 256> cell{};
  std::array<bool, 256> has_cell{};
};

constexpr void put(tables& t, unsigned char c, int column, int row) {
  t.cell[c] = {column, row};
  t.has_cell[c] = true;
}

// Cell layout of the interface image. Rows 0..2 hold the digits and the
// letters in pairs (capital, small); row 3 the punctuation from '!' to '@' in
// code order (digits apart); rows 4 and 5 the rest of ASCII and the accented letters of the
// Spanish and French texts. Columns stop at 21 (texel 308): texel column 319
// holds the palette pixels.
constexpr tables build() {
  tables t{};
  for (const auto& g : kWidths) {
    for (char c : g.ascii) t.advance[static_cast<unsigned char>(c)] = static_cast<std::uint8_t>(g.width);
    for (int b : g.high_bytes)
      if (b != 0) t.advance[b] = static_cast<std::uint8_t>(g.width);
  }
  put(t, ' ', 0, 0);
  for (int d = 0; d < 10; ++d) put(t, static_cast<unsigned char>('0' + d), 1 + d, 0);
  for (int i = 0; i < 26; ++i) {
    // A..E on row 0 from column 11, F..P on row 1 from column 0, Q..Z on row 2 from column 1.
    int column = 0, row = 0;
    if (i < 5) {
      column = 11 + 2 * i, row = 0;
    } else if (i < 16) {
      column = 2 * (i - 5), row = 1;
    } else {
      column = 1 + 2 * (i - 16), row = 2;
    }
    put(t, static_cast<unsigned char>('A' + i), column, row);
    put(t, static_cast<unsigned char>('a' + i), column + 1, row);
  }
  constexpr std::string_view punctuation = "!\"#$%&'()*+,-./:;<=>?@";
  for (std::size_t i = 0; i < punctuation.size(); ++i)
    put(t, static_cast<unsigned char>(punctuation[i]), static_cast<int>(i), 3);
  constexpr std::string_view rest = "[\\]^_`{|}~";
  for (std::size_t i = 0; i < rest.size(); ++i)
    put(t, static_cast<unsigned char>(rest[i]), static_cast<int>(i), 4);
  constexpr int accented[] = {191, 193, 201, 205, 209, 211, 218, 225, 233, 237, 241, 243, 250, 251};
  for (int i = 0; i < 14; ++i) {
    int column = 10 + i, row = 4;
    if (column > 21) column -= 22, row = 5;
    put(t, static_cast<unsigned char>(accented[i]), column, row);
  }
  return t;
}

constexpr tables kTables = build();

}  // namespace

int font_advance(unsigned char c) {
  return kTables.advance[c];
}

glyph_cell font_cell(unsigned char c) {
  return kTables.cell[c];
}

bool font_has_cell(unsigned char c) {
  return kTables.has_cell[c];
}
