#pragma once
// Named rectangles of the interface: where the widgets are cut out of the
// built-in pictures (bar strips, frame cells, icon cells and palette pixels
// of the interface image; buttons, icons and the frame cell of the installer
// atlas) and where the screens put them. The drawing code, the hit tests,
// the picture generator (tools/asset-gen) and the tests all read them from
// here, so a picture and the code that cuts it cannot drift apart.
//
// Texel positions count rows from the bottom (see ui/texes.h); screen
// positions are pixels of the current window, origin bottom-left, y up.
// Plain data only: no other header is needed.

// ---- Interface image (texture 392, 512 x 512) --------------------------------

// A stretchable bar strip (BTN_frame1): `cap` texels at each end are never
// stretched; the strip is `strip` long and `height` high with its left edge
// at u and its bottom at v.
struct bar_cell {
  int style, cap, strip, height, u, v;
};
inline constexpr bar_cell kBarCells[] = {
    {0, 10, 100, 26, 1, 487},   {1, 20, 100, 26, 102, 487}, {2, 10, 52, 26, 304, 486},
    {3, 10, 52, 26, 304, 459},  {4, 10, 28, 16, 112, 161},  {5, 10, 28, 16, 83, 161},
    {7, 10, 65, 24, 240, 242},  {8, 7, 16, 16, 289, 219},   {9, 10, 51, 26, 262, 133},
    {10, 26, 68, 24, 357, 488},
};

// A nine-slice frame cell (BTN_frame2): a square of `cell` texels with its
// lower-left corner at (u, v); the frame reaches `side` px left and right of
// the caller's rectangle, `below` px under it and `above` px over it.
struct frame_cell {
  int style, cell, u, v, side, below, above;
};
// Style 20 is cut from the installer atlas, the others from the interface
// image.
inline constexpr int kAtlasFrameStyle = 20;
inline constexpr frame_cell kFrameCells[] = {
    {11, 100, 1, 358, 9, 14, 4},   {12, 100, 102, 358, 9, 14, 4},
    {13, 100, 203, 358, 9, 14, 4}, {14, 100, 304, 358, 9, 14, 4},
    {15, 100, 405, 358, 9, 14, 4}, {16, 68, 1, 289, 2, 2, 2},
    {17, 42, 70, 315, 8, 13, 2},   {18, 42, 113, 315, 8, 13, 2},
    {19, 44, 440, 12, 6, 9, 4},    {kAtlasFrameStyle, 41, 774, 78, 1, 1, 1},
};

// The cell of a bar or frame style; null for a style that has none.
constexpr const bar_cell* bar_cell_of(int style) {
  for (const bar_cell& c : kBarCells)
    if (c.style == style) return &c;
  return nullptr;
}
constexpr const frame_cell* frame_cell_of(int style) {
  for (const frame_cell& c : kFrameCells)
    if (c.style == style) return &c;
  return nullptr;
}

// 18 x 18 icon cells of the interface image, by centre.
struct icon_cell {
  const char* name;
  int cx, cy;
};
inline constexpr int kIconCellSize = 18;
inline constexpr icon_cell kIconCheckBox{"check box", 148, 187};
inline constexpr icon_cell kIconTick{"tick", 148, 206};
inline constexpr icon_cell kIconRadioRing{"radio ring", 92, 132};
inline constexpr icon_cell kIconRadioDot{"radio dot", 92, 151};
inline constexpr icon_cell kIconCloseBox{"close box", 187, 129};
inline constexpr icon_cell kIconCloseBoxPressed{"close box pressed", 206, 129};
inline constexpr icon_cell kIconCells[] = {kIconCheckBox, kIconTick,     kIconRadioRing,
                                           kIconRadioDot, kIconCloseBox, kIconCloseBoxPressed};

// Palette pixels: the interface colours 34..47 (not 39) are read from these.
struct palette_pixel {
  int col, x, y;
};
inline constexpr palette_pixel kPalettePixels[] = {
    {34, 319, 155}, {35, 319, 147}, {36, 319, 139}, {37, 319, 131}, {38, 319, 123},
    {40, 319, 115}, {41, 319, 107}, {42, 319, 99},  {43, 319, 91},  {44, 395, 115},
    {45, 319, 83},  {46, 319, 75},  {47, 319, 67},
};

// ---- Installer atlas (texture 393, 1010 x 764 in a 1024 x 1024 texture) -------

// Texture coordinate = atlas pixel / this.
inline constexpr float kAtlasSheetTexels = 1024.0f;

// An atlas rectangle (s, t, ds, dt). Buttons have a mouse-over look dt + 1
// lower and a pressed look 2 (dt + 1) lower.
struct atlas_rect {
  const char* name;
  int s, t, ds, dt;
};
inline constexpr atlas_rect kAtlasDestination{"Destination", 513, 166, 126, 22};
inline constexpr atlas_rect kAtlasInstall{"Install", 640, 166, 83, 22};
inline constexpr atlas_rect kAtlasQuit{"Quit", 780, 166, 51, 22};
inline constexpr atlas_rect kAtlasDecline{"Decline", 832, 166, 85, 22};
inline constexpr atlas_rect kAtlasAccept{"Accept", 918, 166, 59, 22};
inline constexpr atlas_rect kAtlasButtons[] = {kAtlasDestination, kAtlasInstall, kAtlasQuit, kAtlasDecline,
                                               kAtlasAccept};
inline constexpr atlas_rect kAtlasSourcePicture{"source", 644, 33, 128, 86};

// Icon c of the atlas: 64 x 64 at s = (c mod 8) 64, t = (c div 8) 64 + 66.
inline constexpr int kAtlasIconSize = 64;
inline constexpr int kGlobeFirstIcon = 8, kGlobeLastIcon = 23, kIdleGlobeIcon = 21;
constexpr int atlas_icon_s(int c) {
  return (c % 8) * kAtlasIconSize;
}
constexpr int atlas_icon_t(int c) {
  return (c / 8) * kAtlasIconSize + 66;
}

// ---- Screens -------------------------------------------------------------------

// A rectangle of the screen: lower-left corner and size.
struct screen_box {
  float x, y, dx, dy;
};
// An atlas rectangle drawn with its lower-left corner at (x, y), at its own
// size.
struct screen_image {
  float x, y;
  atlas_rect cut;
};

// The background picture (texture 394, 1024 x 768 in a 1024 x 1024 texture)
// covers the 1024 x 768 screen; its top edge is texture t = 768 / 1024.
inline constexpr screen_box kBackgroundBox{0, 0, 1024, 768};
inline constexpr float kBackgroundTopT = 768.0f / 1024.0f;

// Main screen (window 0).
// The destination field: a click inside (bounds included) counts as the
// destination button; its frame (bar style 9) is centred on it.
inline constexpr screen_box kMainDestField{135, 79, 300, 20};
inline constexpr screen_image kMainDestButton{10, 78, kAtlasDestination};
inline constexpr screen_image kMainInstallButton{450, 78, kAtlasInstall};
inline constexpr screen_image kMainQuitButton{960, 78, kAtlasQuit};
inline constexpr screen_image kMainSourcePicture{0, 595, kAtlasSourcePicture};
// Lower-left corner of the spinning globe icon.
inline constexpr float kMainGlobeX = 29, kMainGlobeY = 608;
// Frames (style 20) of the source, the download size and the message box.
inline constexpr screen_box kMainSourceFrame{135, 600, 790, 72};
inline constexpr screen_box kMainDownloadFrame{935, 600, 80, 72};
inline constexpr screen_box kMainMessageFrame{135, 32, 880, 40};

// Licence screen (window 1, 500 x 300).
inline constexpr screen_image kLicenceDeclineButton{300, 10, kAtlasDecline};
inline constexpr screen_image kLicenceAcceptButton{400, 10, kAtlasAccept};
