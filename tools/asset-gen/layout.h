#pragma once
// Where the program cuts its widgets out of the pictures: the positions are
// fixed by the drawing code (bars, frames, icons, palette pixels of the
// interface image; buttons, icons and the frame cell of the installer atlas),
// the pixels are ours. Texel units, y counted from the bottom row.

struct bar_cell {
  int style, cap, strip, height, u, v;
};
// Stretchable bars (BTN_frame1).
constexpr bar_cell kBars[] = {
    {0, 10, 100, 26, 1, 487},   {1, 20, 100, 26, 102, 487}, {2, 10, 52, 26, 304, 486},
    {3, 10, 52, 26, 304, 459},  {4, 10, 28, 16, 112, 161},  {5, 10, 28, 16, 83, 161},
    {7, 10, 65, 24, 240, 242},  {8, 7, 16, 16, 289, 219},   {9, 10, 51, 26, 262, 133},
    {10, 26, 68, 24, 357, 488},
};

struct frame_cell {
  int style, cell, u, v, side, below, above;
};
// Nine-slice frames (BTN_frame2); style 20 lives in the installer atlas.
constexpr frame_cell kFrames[] = {
    {11, 100, 1, 358, 9, 14, 4},   {12, 100, 102, 358, 9, 14, 4}, {13, 100, 203, 358, 9, 14, 4},
    {14, 100, 304, 358, 9, 14, 4}, {15, 100, 405, 358, 9, 14, 4}, {16, 68, 1, 289, 2, 2, 2},
    {17, 42, 70, 315, 8, 13, 2},   {18, 42, 113, 315, 8, 13, 2},  {19, 44, 440, 12, 6, 9, 4},
    {20, 41, 774, 78, 1, 1, 1},
};

// 18 x 18 icon cells of the interface image, by centre.
struct icon_cell {
  const char* name;
  int cx, cy;
};
constexpr int kIconSize = 18;
constexpr icon_cell kIcons[] = {
    {"check box", 148, 187}, {"tick", 148, 206},      {"radio ring", 92, 132},
    {"radio dot", 92, 151},  {"close box", 187, 129}, {"close box pressed", 206, 129},
};

// Palette pixels: colour index and pixel.
struct palette_pixel {
  int col, x, y;
};
constexpr palette_pixel kPalette[] = {
    {34, 319, 155}, {35, 319, 147}, {36, 319, 139}, {37, 319, 131}, {38, 319, 123},
    {40, 319, 115}, {41, 319, 107}, {42, 319, 99},  {43, 319, 91},  {44, 395, 115},
    {45, 319, 83},  {46, 319, 75},  {47, 319, 67},
};

// Installer atlas rectangles (s, t, ds, dt). Buttons have a mouse-over look
// dt + 1 lower and a pressed look 2 (dt + 1) lower.
struct atlas_rect {
  const char* name;
  int s, t, ds, dt;
};
constexpr atlas_rect kAtlasButtons[] = {
    {"Destination", 513, 166, 126, 22}, {"Install", 640, 166, 83, 22}, {"Quit", 780, 166, 51, 22},
    {"Decline", 832, 166, 85, 22},      {"Accept", 918, 166, 59, 22},
};
constexpr atlas_rect kSourcePicture{"source", 644, 33, 128, 86};
// Icon c of the atlas: 64 x 64 at s = (c mod 8) 64, t = (c div 8) 64 + 66.
constexpr int kGlobeFirstIcon = 8, kGlobeLastIcon = 23, kIdleGlobeIcon = 21;
inline int atlas_icon_s(int c) {
  return (c % 8) * 64;
}
inline int atlas_icon_t(int c) {
  return (c / 8) * 64 + 66;
}
