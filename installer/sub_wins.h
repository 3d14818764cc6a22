#pragma once
// The installer's own screens and widgets on top of the UI framework: image
// buttons and icons cut out of the installer atlas, and the licence screen.
#include <string>

#include "ui/screen_rects.h"

constexpr int kTexInterface = 392;
constexpr int kTexAtlas = 393;
constexpr int kTexBackground = 394;

// Atlas rectangle (s, t) to draw for an image button of height dt: the same
// button lies dt + 1 lower under the mouse and 2 (dt + 1) lower while a
// mouse button is held, when it is highlighted at all.
float interface_rect_t(float t1, float dt, bool highlighted, bool mouse_inside, bool button_held);
// Bounds included: a click on the edge pixel counts.
bool interface_rect_contains(float x1, float y1, float ds, float dt, float mx, float my);
// Atlas position of icon c: 64 x 64 cells, 8 per row, starting at t = 66.
void interface_icon_cell(int c, float* s, float* t);

// Draws atlas rectangle (s1, t1, ds, dt) with its lower-left corner at
// (x1, y1); tint 1 light green, 2 light red, else white. Returns 1 when the
// mouse went down inside it this pass (also when not highlighted).
int interface_rect(float x1, float y1, float s1, float t1, float ds, float dt, int hi_lite, int col_code);
// The same for an atlas rectangle placed on a screen (ui/screen_rects.h).
int interface_rect(const screen_image& r, int hi_lite, int col_code);
int interface_icon(float x, float y, int c);
// The background picture over the whole 1024 x 768 screen.
void draw_background_picture();

// The licence agreement. Returns 1 when accepted, 0 when declined or closed.
int handle_EULA();
// The licence text shown on the licence screen.
const char* licence_text();
