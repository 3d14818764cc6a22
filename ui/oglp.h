#pragma once
// Immediate-mode 2-D drawing on the window's OpenGL context: rectangles,
// lines, textured quads, the background fill, the buffer swap, and text in
// the bitmap font of the interface image, in one line or wrapped.
//
// Coordinates are pixels of the current (sub-)window: origin at its
// bottom-left corner, y up. Every primitive adds the window origin
// (`win_x`, `win_y` of `mnw`) before it emits vertices; str_one_line alone
// takes absolute, already rounded coordinates. Colours are indices into
// `colr` (ui/colr.h).
#include <string>
#include <string_view>
#include <vector>

#include "ui/screen_rects.h"

struct oglp_class {
  float font_size = 1.0f;  // glyph quads are the cell size times this (when above 0)
};
extern oglp_class oglp;

// Character sets of the text functions.
constexpr int kCharsetProportional = 100;  // the interface font, proportional advance
constexpr int kCharsetFixed10 = 102;       // the same glyphs at a fixed advance of 10 px
constexpr int kCharsetTable40 = 103;       // 40-column table of 13 x 13 cells, advance 15
// Texture that holds the glyphs of character set 103 (not loaded by the
// installer).
constexpr int kTexFont103 = 419;

// Justification of text.
constexpr int kJustLeft = 0, kJustCentre = 1, kJustRight = 2;

// GL enable-state cache. Each is -1 until read from GL on first use.
extern int o_fog, o_tex, o_lit, o_alB, o_alT, o_deR, o_deW;

// Sets fog (0 on, 1 off), the number of enabled texture units (0 = no
// texturing), lighting (2 on, 3 off), alpha mode (4 neither, 5 blending,
// 6 alpha test, 7 both), depth test (8 on, 9 off) and depth writes (10 on,
// 11 off). Only states whose cached value differs reach GL.
void OGL_setstate(int fog, int tex_units, int lighting, int alpha_mode, int depth_test, int depth_write);
// Forgets the cached states so that each is read from GL again on next use
// (after a new context, or after code that changed GL state behind the cache).
void OGL_reset_state_cache();

// Solid rectangle with corners (x, y) and (x + dx, y + dy).
void OGL_fillrect(int col, float alpha, float x, float y, float dx, float dy);
// One-pixel line; integer coordinates run along pixel centres.
void OGL_line(int col, float alpha, float x1, float y1, float x2, float y2);
// Textured quad, four vertices (position, texture coordinate) in order.
// `tex` >= 1 is bound first through the texture table.
void OGL_2dquad(int tex, int col, float alpha, float x1, float y1, float s1, float t1, float x2, float y2,
                float s2, float t2, float x3, float y3, float s3, float t3, float x4, float y4, float s4,
                float t4, int tex_units, int alpha_mode);
// The textured quad of the screen box `at` showing texture coordinates
// (s1, t1) at its lower-left corner to (s2, t2) at its upper-right one; the
// corners go to OGL_2dquad lower-left, upper-left, upper-right, lower-right.
void OGL_2dquad_box(int tex, int col, float alpha, const screen_box& at, float s1, float t1, float s2,
                    float t2, int tex_units, int alpha_mode);
// Fills the whole client area with colour 34, whatever window is current.
void OGL_plot_back_col();
// Draws what the pass recorded, sets the current colour white, then swaps
// the window's buffers.
void OGL_sbuff();

// Textured quads of `tex` in colour `col`: `vertex_count` vertices (x, y, s,
// t), four per quad, in the coordinates of the current window plus its
// origin already added.
void OGL_quads(int tex, int col, float alpha, const float* xyst, int vertex_count);

// A pass of the event pump is framed by these. Inside, on a renderer that
// keeps the back buffer across swaps (a software one), primitives are
// recorded and drawn at OGL_sbuff, and a frame that covers the window like
// the one before is drawn again only where its drawing differs. Passes may
// nest (a drawn alert); drawing left at the end of the outer pass is drawn
// then, without a swap.
void OGL_begin_frame();
void OGL_end_frame();
// Partial redraws on or off (tests compare them with whole ones).
void OGL_allow_partial_redraw(bool allowed);
// Pixels drawn again at the last swap of a recorded frame; -1 when the whole
// frame was drawn.
long OGL_last_redrawn_pixels();
// After the GL context is made again: checks the renderer anew and compares
// the next frame with nothing.
void OGL_forget_frames();
// The normal blend function: source alpha, one minus source alpha.
void OGL_nrml_colors();

// Makes the colour current: opaque (three components) or with its alpha.
void OGL_color(const float rgba[4], bool opaque);

// ---- The context's set-up ---------------------------------------------------

// The GL defaults of a new context: ambient light model black; pack and
// unpack alignment 1; alpha test greater than 0; normal blending; depth test
// less-or-equal; linear fog with the nicest hint; clockwise front faces,
// back faces culled; smooth shading; dithering on; logic op, stencil test,
// 1-D textures, normalising and scissor test off; colour material on for
// front ambient and diffuse; depth writes off. Then forgets the state cache.
void OGL_set_defaults();
// Viewport (0, 0, w, h), an orthographic projection (left, right, bottom,
// top, near -1, far 1) and the identity model-view.
void OGL_set_ortho(int w, int h, float left, float right, float bottom, float top);
// Puts GL into the state 2-D drawing starts from, whatever interrupted code
// left: no open primitive or display list, no pending errors, normal
// blending, no scissor; then forgets the state cache. The installer binds no
// shader programs or framebuffers, so there are none to unbind.
void OGL_reset_after_interruption();

// What the GL implementation reports about itself.
struct ogl_implementation {
  std::string vendor, renderer, version;
  std::string extensions;  // names separated by spaces
  int max_tex_size = 0;
  int tex_units = 1;  // read only when the extensions name GL_ARB_multitexture
};
ogl_implementation OGL_query_implementation();
// Whether the space-separated `list` names the extension `name`.
bool OGL_has_extension(const std::string& list, const char* name);

// Advance width in pixels of one character of the proportional font.
float chr_dx(char c);
// Width of a text: the sum of chr_dx (8 px per byte with `lang` 6).
float menu_dx(std::string_view s);
// Width of a text in the proportional font, always the sum of chr_dx.
float text_width(std::string_view s);

// Selects colour, GL state and font texture for `charset` and returns its
// fixed advance (0 = proportional). The glyph area's texel origin and the
// cell size go to the pointers (each may be null). A bad charset raises the
// fatal alert "String proc with bad charset!" and returns -1.
int OGL_strtex(int charset, int col, float* u_origin, float* v_origin, int* cell_w, int* cell_h);

// One line of text at absolute, rounded (x, y); tab, line feed and carriage
// return neither draw nor advance.
void str_one_line(int col, float x, float y, std::string_view text, int charset, int just);

// Text at (x, y), wrapped into lines of `max_width` px when 0 < max_width <
// 9999 (breaking after a space, '-' or '/', never inside a word; a line
// feed always breaks), lines 10 px apart. Returns the y for the next
// paragraph: y itself after a single-line draw, else 10 px below the last
// line drawn.
float OGL_string(int col, float x, float y, std::string_view text, float max_width, int charset, int just);

// Where OGL_string puts the lines of `text`, without drawing: each line's
// text (a view into `text`) and its absolute, rounded pen position before
// justification. `fixed_advance` is the character set's fixed advance (0
// proportional). Returns what OGL_string returns.
struct text_line_pos {
  std::string_view text;
  float x, y;
};
float OGL_string_layout(float x, float y, std::string_view text, float max_width, int fixed_advance,
                        float win_x, float win_y, std::vector<text_line_pos>* lines);

// The left edge at which str_one_line starts `text` for pen x and `just`.
float str_start_x(float x, std::string_view text, int just);
