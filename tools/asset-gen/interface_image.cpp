#include <cmath>

#include "font_image.h"
#include "paint.h"
#include "pictures.h"
#include "theme.h"
#include "ui/screen_rects.h"

namespace {

using namespace theme;

// Each element is painted on its own small canvas and copied into place, so
// anti-aliasing never spills into a neighbouring cell.
void place(canvas& image, const canvas& part, int u, int v) {
  image.copy_from(part, 0, 0, part.width(), part.height(), u, v);
}

// A light bar: white to pale grey with a fine edge.
canvas light_bar(int w, int h, float y0, float y1, float radius) {
  canvas c(w, h);
  const box b{0, y0, static_cast<float>(w), y1};
  shadow(c, {0, y0 - 0.5f, static_cast<float>(w), y1 - 1}, radius, 1.5f, 0.10f);
  rounded(c, b, radius, vgrad(y0, hex(0xe9eef4), y1, hex(0xffffff)));
  rounded_border(c, b, radius, 1, kCardEdge);
  return c;
}

canvas push_button(bool pressed) {
  canvas c(52, 26);
  const box b{0, 1, 52, 24};
  if (!pressed) {
    shadow(c, {0, 0.5f, 52, 23}, 5, 1.5f, 0.16f);
    rounded(c, b, 5, vgrad(1, hex(0xe6edf4), 24, hex(0xffffff)));
    rounded_border(c, b, 5, 1, hex(0xa9b8c8));
    // A brighter line under the top edge gives the face some lift.
    c.fill(
        {2, 22, 50, 23}, [](float, float) { return 1.0f; }, solid(hex(0xffffff, 0.9f)));
  } else {
    rounded(c, b, 5, vgrad(1, hex(0xe3e9f0), 24, hex(0xd2dce7)));
    c.fill(
        {2, 21, 50, 23}, [](float, float) { return 1.0f; }, solid(hex(0xbfcbd8, 0.8f)));
    rounded_border(c, b, 5, 1, hex(0x8a9db1));
  }
  return c;
}

canvas progress_piece(bool fill) {
  canvas c(28, 16);
  const box b{0, 2, 28, 14};
  if (!fill) {
    rounded(c, b, 6, vgrad(2, hex(0xe6ecf2), 14, hex(0xcfd9e4)));
    rounded_border(c, b, 6, 1, hex(0xb3c1cf));
  } else {
    rounded(c, b, 6, vgrad(2, kAccentDark, 14, kAccentLight));
    c.fill(
        {3, 11.5f, 25, 12.5f}, [](float, float) { return 1.0f; }, solid(hex(0xffffff, 0.35f)));
    rounded_border(c, b, 6, 1, hex(0x1b56a3));
  }
  return c;
}

// The destination field: a white text box. Its left end lies under the
// Destination button when that is shown (3 px), so the corners there are
// small enough to hide beneath it.
canvas field_bar() {
  canvas c(51, 26);
  rounded(c, {0, 2, 51, 24}, 3, solid(hex(0xa3b3c4)));
  rounded(c, {1, 3, 50, 23}, 2, vgrad(3, hex(0xffffff), 23, hex(0xf7f9fb)));
  c.fill(
      {2, 21, 49, 22}, [](float, float) { return 1.0f; }, solid(hex(0xe4eaf0)));
  return c;
}

canvas header_bar() {
  canvas c(100, 26);
  rounded(c, {0, 1, 100, 24}, 4, vgrad(1, kHeaderBottom, 24, kHeaderTop));
  return c;
}

// Window frame with a title band (styles 11 and 12).
canvas window_frame(bool dark_title) {
  canvas c(100, 100);
  const box card{6, 8, 94, 97};
  shadow(c, {6, 6, 94, 95}, 8, 6, 0.5f);
  rounded(c, card, 8, solid(kWindowBody));
  const float band = dark_title ? 73 : 72;
  const paint_fn head =
      dark_title ? vgrad(band, kHeaderBottom, 97, kHeaderTop) : vgrad(band, hex(0xd5dfe9), 97, hex(0xe7eef5));
  c.fill(
      {6, band, 94, 97}, [&](float x, float y) { return aa(sd_round_box(x, y, card, 8)); }, head);
  c.fill(
      {6, band - 1, 94, band}, [&](float x, float y) { return aa(sd_round_box(x, y, card, 8)); },
      solid(dark_title ? hex(0x15304e) : hex(0xc3cfdb)));
  rounded_border(c, card, 8, 1, dark_title ? hex(0x0f1d2c, 0.55f) : hex(0xa9b8c8));
  return c;
}

// Card-like frames: `inset` keeps the card inside the cell's corner slices.
canvas card_frame(int cell, const box& card, float radius, const rgba& fill, const rgba& edge, float shade) {
  canvas c(cell, cell);
  if (shade > 0) shadow(c, {card.x0, card.y0 - 1.5f, card.x1, card.y1 - 1.5f}, radius, 4, shade);
  rounded(c, card, radius, solid(fill));
  rounded_border(c, card, radius, 1, edge);
  return c;
}

canvas icon(int kind) {
  canvas c(kIconCellSize, kIconCellSize);
  switch (kind) {
    case 0:  // check box
      rounded(c, {2, 2, 16, 16}, 3, vgrad(2, hex(0xf3f6f9), 16, hex(0xffffff)));
      rounded_border(c, {2, 2, 16, 16}, 3, 1, hex(0x8799ad));
      break;
    case 1:  // tick
      rounded(c, {2, 2, 16, 16}, 3, vgrad(2, kAccentDark, 16, kAccent));
      line(c, 5.2f, 9.2f, 7.9f, 6.3f, 1.9f, hex(0xffffff));
      line(c, 7.9f, 6.3f, 12.9f, 12.2f, 1.9f, hex(0xffffff));
      break;
    case 2:  // radio ring
      disc(c, 9, 9, 7, vgrad(2, hex(0xf3f6f9), 16, hex(0xffffff)));
      c.fill(
          {0, 0, 18, 18},
          [](float x, float y) {
            const float d = sd_circle(x, y, 9, 9, 7);
            return aa(d) * (1 - aa(d + 1.1f));
          },
          solid(hex(0x8799ad)));
      break;
    case 3:  // radio dot
      disc(c, 9, 9, 7, vgrad(2, kAccentDark, 16, kAccent));
      disc(c, 9, 9, 2.7f, solid(hex(0xffffff)));
      break;
    default: {  // close box, normal (4) or pressed (5)
      const bool pressed = kind == 5;
      disc(c, 9, 9, 7, solid(pressed ? hex(0xe0484f) : hex(0x466c95)));
      const rgba x = hex(0xffffff, pressed ? 1.0f : 0.92f);
      line(c, 6.2f, 6.2f, 11.8f, 11.8f, 1.5f, x);
      line(c, 6.2f, 11.8f, 11.8f, 6.2f, 1.5f, x);
    }
  }
  return c;
}

void put_palette(canvas& image) {
  const struct {
    int col;
    rgba c;
  } colours[] = {
      {34, kBackFill},  {35, hex(0x5a7896)}, {36, hex(0x7d97b1)}, {37, hex(0xa4b8cb)}, {38, hex(0x2f4b68)},
      {40, kTitleText}, {41, hex(0x9fb4c9)}, {42, hex(0x6c87a3)}, {43, kInk},          {44, kAccent},
      {45, kFieldText}, {46, kBodyText},     {47, kHelpText},
  };
  for (const auto& p : kPalettePixels)
    for (const auto& c : colours)
      if (c.col == p.col) image.set(p.x, p.y, c.c);
}

}  // namespace

canvas make_interface_image(const fonts& f, float font_px, std::vector<std::string>* notes) {
  canvas image(512, 512);
  *notes = draw_interface_font(image, f.regular, font_style{font_px});

  for (const auto& b : kBarCells) {
    canvas part(b.strip, b.height);
    switch (b.style) {
      case 0:
        part = light_bar(b.strip, b.height, 1, 24, 4);
        break;  // the top row samples the font's blank row
      case 1:
        part = header_bar();
        break;
      case 2:
        part = push_button(false);
        break;
      case 3:
        part = push_button(true);
        break;
      case 4:
        part = progress_piece(false);
        break;
      case 5:
        part = progress_piece(true);
        break;
      case 9:
        part = field_bar();
        break;
      case 8:
        part = light_bar(b.strip, b.height, 1, 15, 5);
        break;
      default:
        part = light_bar(b.strip, b.height, 1, static_cast<float>(b.height - 1), 5);
        break;
    }
    place(image, part, b.u, b.v);
  }

  for (const auto& fr : kFrameCells) {
    if (fr.style == 20) continue;  // in the atlas
    canvas part(fr.cell, fr.cell);
    switch (fr.style) {
      case 11:
        part = window_frame(true);
        break;
      case 12:
        part = window_frame(false);
        break;
      case 13:
        part = card_frame(100, {7, 11, 93, 97}, 6, kCard, hex(0xcad4df), 0.10f);
        break;
      case 14:
        part = card_frame(100, {7, 11, 93, 97}, 6, kDarkCard, kDarkEdge, 0.35f);
        break;
      case 15:
        part = card_frame(100, {7, 11, 93, 97}, 8, hex(0x1c2b3c), hex(0x35495f), 0.35f);
        break;
      case 16:
        part = card_frame(68, {1, 1, 67, 67}, 4, kCard, kCardEdge, 0);
        break;
      case 19:
        part = card_frame(44, {4, 5, 40, 41}, 4, kCard, kCardEdge, 0.10f);
        break;
      default:
        part = card_frame(42, {5, 7, 37, 40}, 4, kCard, kCardEdge, 0.10f);
        break;
    }
    place(image, part, fr.u, fr.v);
  }

  for (int i = 0; i < 6; ++i)
    place(image, icon(i), kIconCells[i].cx - kIconCellSize / 2, kIconCells[i].cy - kIconCellSize / 2);

  put_palette(image);
  return image;
}
