#include "ui/oglp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/window.h"
#include "ui/colr.h"
#include "ui/font_table.h"
#include "ui/gl.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/tman.h"

oglp_class oglp;

int o_fog = -1, o_tex = -1, o_lit = -1, o_alB = -1, o_alT = -1, o_deR = -1, o_deW = -1;

namespace {

// Every primitive ends in emit(): drawn at once, or, during a pump pass on a
// renderer that keeps the back buffer across swaps, recorded and drawn at
// the swap, where only what differs from the frame before is drawn again.
struct texel_rect;
enum draw_kind { kFill, kLines, kQuads, kOpaqueQuad };
void emit(draw_kind kind, int tex, int col, float alpha, int tex_units, int alpha_mode, const float* xyst,
          int vertex_count, const texel_rect* copy = nullptr);
struct pixel_rect {
  int x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
  long area() const { return static_cast<long>(x1 - x0) * (y1 - y0); }
};
// Draws the recorded frame; returns the part of the window that changed.
pixel_rect flush_frame(bool swapping);
std::vector<float>& text_verts() {
  static std::vector<float> v;
  return v;
}

// Texel size of the font images (both are 512 x 512).
constexpr float kFontTexels = 512.0f;
// Line pitch of wrapped text and the per-byte width guess for the next word.
constexpr float kLinePitch = 10.0f;
constexpr float kWordGuessPerByte = 6.0f;

void set_cap(GLenum cap, int on) {
  if (on) {
    glEnable(cap);
  } else {
    glDisable(cap);
  }
}

// Brings one cached boolean state to `want`, reading GL the first time.
void sync_cap(int* cache, GLenum cap, int want) {
  if (*cache < 0) *cache = glIsEnabled(cap) ? 1 : 0;
  if (*cache != want) {
    set_cap(cap, want);
    *cache = want;
  }
}

int max_units() {
  static int units = 0;
  if (units <= 0) {
    GLint v = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS, &v);
    units = v < 1 ? 1 : (v > kTexUnits ? kTexUnits : v);
  }
  return units;
}

void set_unit_enabled(int unit, int on) {
  if (unit != 0) glActiveTexture(GL_TEXTURE0 + unit);
  set_cap(GL_TEXTURE_2D, on);
  if (unit != 0) glActiveTexture(GL_TEXTURE0);
}

float round_half_away(float v) {
  return std::round(v);
}

// The wrapping of OGL_string, shared by the drawing and the pure layout.
// `line(text, x0, y0)` is called for every line in order.
template <typename LineFn>
float layout(float x, float y, std::string_view text, float max_width, int fixed_advance, float win_x,
             float win_y, LineFn&& line) {
  const float x0 = round_half_away(x + win_x);
  float y0 = round_half_away(y + win_y - 2.0f);
  if (max_width <= 0.0f || max_width >= 9999.0f) {
    line(text, x0, y0);
    return y0 - win_y + 2.0f;
  }
  std::size_t start = 0;
  float pen = x0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    pen += fixed_advance ? static_cast<float>(fixed_advance) : chr_dx(c);
    bool flush = false;
    if (c == '\n' || i + 1 == n) {
      flush = true;
    } else if (c == ' ' || c == '-' || c == '/') {
      float guess = 0.0f;
      for (std::size_t j = i + 1; j < n && text[j] != ' ' && text[j] != '-' && text[j] != '/'; ++j) {
        guess += kWordGuessPerByte;
      }
      flush = pen + guess > x0 + max_width;
    }
    if (flush) {
      line(text.substr(start, i + 1 - start), x0, y0);
      y0 -= kLinePitch;
      start = i + 1;
      pen = x0;
    }
  }
  return y0 - win_y + 2.0f;
}

}  // namespace

void OGL_reset_state_cache() {
  o_fog = o_tex = o_lit = o_alB = o_alT = o_deR = o_deW = -1;
}

void OGL_setstate(int fog, int tex_units, int lighting, int alpha_mode, int depth_test, int depth_write) {
  sync_cap(&o_fog, GL_FOG, fog == 0 ? 1 : 0);

  const int units = max_units();
  int want = tex_units < 0 ? 0 : (tex_units > units ? units : tex_units);
  if (o_tex < 0) {
    // Unknown: set every unit explicitly once.
    for (int u = 0; u < units; ++u) set_unit_enabled(u, u < want);
    o_tex = want;
  } else if (o_tex != want) {
    for (int u = want; u < o_tex; ++u) set_unit_enabled(u, 0);
    for (int u = o_tex; u < want; ++u) set_unit_enabled(u, 1);
    o_tex = want;
  }

  sync_cap(&o_lit, GL_LIGHTING, lighting == 2 ? 1 : 0);
  sync_cap(&o_alB, GL_BLEND, (alpha_mode == 5 || alpha_mode == 7) ? 1 : 0);
  sync_cap(&o_alT, GL_ALPHA_TEST, (alpha_mode == 6 || alpha_mode == 7) ? 1 : 0);
  sync_cap(&o_deR, GL_DEPTH_TEST, depth_test == 8 ? 1 : 0);

  const int write = depth_write == 10 ? 1 : 0;
  if (o_deW < 0) {
    GLboolean mask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    o_deW = mask ? 1 : 0;
  }
  if (o_deW != write) {
    glDepthMask(write ? GL_TRUE : GL_FALSE);
    o_deW = write;
  }
}

// ---- Primitives -------------------------------------------------------------

void OGL_fillrect(int col, float alpha, float x, float y, float dx, float dy) {
  x += mnw.win_x;
  y += mnw.win_y;
  const float v[16] = {x, y, 0, 0, x, y + dy, 0, 0, x + dx, y + dy, 0, 0, x + dx, y, 0, 0};
  emit(kFill, 0, col, alpha, 0, 5, v, 4);
}

void OGL_line(int col, float alpha, float x1, float y1, float x2, float y2) {
  const float ox = mnw.win_x + 0.5f, oy = mnw.win_y + 0.5f;
  const float v[8] = {x1 + ox, y1 + oy, 0, 0, x2 + ox, y2 + oy, 0, 0};
  emit(kLines, 0, col, alpha, 0, 5, v, 2);
}

void OGL_quads(int tex, int col, float alpha, const float* xyst, int vertex_count) {
  emit(kQuads, tex, col, alpha, 1, 5, xyst, vertex_count);
}

namespace {

// An opaque texture rectangle that lands one texel per pixel.
struct texel_rect {
  int gl_name = 0;
  int src_x = 0, src_y = 0;  // first texel
  int w = 0, h = 0;          // texels = pixels
  int dst_x = 0, dst_y = 0;  // first pixel, in the 2-D coordinates
};

// True when blending the quad over what is below cannot change a pixel: one
// texture, full colour opacity, an axis-aligned whole-pixel rectangle whose
// texture coordinates map one texel to one pixel (s follows x, t follows y,
// both rising), over texels that are all opaque. Each fragment then carries
// alpha 1, and "source x 1 + destination x 0" is the source itself. The
// software renderer reads every covered pixel back when blending, which for
// the full-window background picture is most of a pass's drawing cost.
bool blend_changes_nothing(int tex, float alpha, int tex_units, const float (&x)[4], const float (&y)[4],
                           const float (&s)[4], const float (&t)[4], texel_rect* out) {
  if (tex < 1 || tex_units != 1 || alpha * ren.current_alpha <= 0.99f) return false;
  const float x_lo = std::min({x[0], x[1], x[2], x[3]}), x_hi = std::max({x[0], x[1], x[2], x[3]});
  const float y_lo = std::min({y[0], y[1], y[2], y[3]}), y_hi = std::max({y[0], y[1], y[2], y[3]});
  if (x_lo != std::trunc(x_lo) || x_hi != std::trunc(x_hi) || y_lo != std::trunc(y_lo) ||
      y_hi != std::trunc(y_hi) || x_lo == x_hi || y_lo == y_hi)
    return false;
  float s_lo = 0, s_hi = 0, t_lo = 0, t_hi = 0;
  for (int i = 0; i < 4; ++i) {
    const bool left = x[i] == x_lo, bottom = y[i] == y_lo;
    if (!left && x[i] != x_hi) return false;  // not a corner of the rectangle
    if (!bottom && y[i] != y_hi) return false;
    (left ? s_lo : s_hi) = s[i];
    (bottom ? t_lo : t_hi) = t[i];
  }
  for (int i = 0; i < 4; ++i) {  // every corner agrees: s depends on x alone, t on y alone
    if (s[i] != (x[i] == x_lo ? s_lo : s_hi) || t[i] != (y[i] == y_lo ? t_lo : t_hi)) return false;
  }
  out->w = static_cast<int>(x_hi - x_lo);
  out->h = static_cast<int>(y_hi - y_lo);
  out->dst_x = static_cast<int>(x_lo);
  out->dst_y = static_cast<int>(y_lo);
  return tman.texels_opaque(tex, s_lo, t_lo, s_hi, t_hi, x_hi - x_lo, y_hi - y_lo, &out->gl_name, &out->src_x,
                            &out->src_y);
}

// Copies an opaque texel rectangle into the frame buffer with a frame-buffer
// blit: a texel-for-pixel copy that a software renderer does as a memory
// copy instead of shading every pixel. Only when the copy is the drawn quad
// exactly: the colour is white (the texture environment multiplies by it),
// the 2-D coordinates are window pixels (identity transform) and the
// renderer offers frame-buffer objects. Returns false to draw the quad.
bool copy_texels(const texel_rect& r, int col, float alpha) {
  float c[4];
  if (!colr.resolve(col, alpha, c) || c[0] != 1.0f || c[1] != 1.0f || c[2] != 1.0f) return false;
  static int have_fbo = -1;  // the renderer offers glBlitFramebuffer (GL 3.0 or the extension)
  static GLuint fbo = 0, attached = 0;
  if (have_fbo < 0) {
    const char* v = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const char* ext = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    have_fbo = (v && std::atoi(v) >= 3) || (ext && std::strstr(ext, "GL_ARB_framebuffer_object")) ? 1 : 0;
  }
  if (!have_fbo) return false;
  // A name becomes a frame-buffer object when first bound; a name that is
  // none (first use, or a new GL context after the window was made again)
  // is replaced.
  if (fbo == 0 || !glIsFramebuffer(fbo)) {
    glGenFramebuffers(1, &fbo);
    attached = 0;
    if (fbo == 0) return false;
  }
  // The rectangle's corners must land on themselves: viewport, projection
  // and model-view together map 2-D units to window pixels one to one.
  GLint vp[4];
  GLfloat pm[16], mv[16];
  glGetIntegerv(GL_VIEWPORT, vp);
  glGetFloatv(GL_PROJECTION_MATRIX, pm);
  glGetFloatv(GL_MODELVIEW_MATRIX, mv);
  auto to_window = [&](float x, float y, float* wx, float* wy) {
    const float ex = mv[0] * x + mv[4] * y + mv[12], ey = mv[1] * x + mv[5] * y + mv[13];
    const float ew = mv[3] * x + mv[7] * y + mv[15];
    const float cx = pm[0] * ex + pm[4] * ey + pm[12] * ew, cy = pm[1] * ex + pm[5] * ey + pm[13] * ew;
    const float cw = pm[3] * ex + pm[7] * ey + pm[15] * ew;
    if (cw == 0.0f) return false;
    *wx = vp[0] + (cx / cw + 1.0f) * 0.5f * vp[2];
    *wy = vp[1] + (cy / cw + 1.0f) * 0.5f * vp[3];
    return true;
  };
  float ax = 0, ay = 0, bx = 0, by = 0;
  if (!to_window(static_cast<float>(r.dst_x), static_cast<float>(r.dst_y), &ax, &ay) ||
      !to_window(static_cast<float>(r.dst_x + r.w), static_cast<float>(r.dst_y + r.h), &bx, &by))
    return false;
  auto near = [](float a, int b) { return std::fabs(a - static_cast<float>(b)) < 1e-3f; };
  if (!near(ax, r.dst_x) || !near(ay, r.dst_y) || !near(bx, r.dst_x + r.w) || !near(by, r.dst_y + r.h))
    return false;

  GLint read_fb = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_fb);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
  if (attached != static_cast<GLuint>(r.gl_name)) {
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                           static_cast<GLuint>(r.gl_name), 0);
    attached = static_cast<GLuint>(r.gl_name);
  }
  const bool complete = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  if (complete) {
    glBlitFramebuffer(r.src_x, r.src_y, r.src_x + r.w, r.src_y + r.h, r.dst_x, r.dst_y, r.dst_x + r.w,
                      r.dst_y + r.h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  }
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_fb));
  return complete;
}

}  // namespace

// ---- Frame recording ---------------------------------------------------------

namespace {

struct draw_cmd {
  draw_kind kind;
  int tex, col, tex_units, alpha_mode;
  float alpha;
  float rgba[4];  // the colour as resolved when recorded: frames compare by it
  bool opaque_colour;
  std::uint32_t first, count;  // vertices (x, y, s, t) in the frame's array
  texel_rect copy;             // kOpaqueQuad: the texels it may be copied from
};

struct frame_record {
  std::vector<draw_cmd> cmds;
  std::vector<float> verts;
  std::array<float, 36> view{};  // viewport, projection and model-view when drawn
  int textures = 0;              // tman's upload count when drawn
  bool pure = false;             // starts by covering the whole window opaquely
  void clear() {
    cmds.clear();
    verts.clear();
    pure = false;
  }
};

int g_pass_depth = 0;      // nested pump passes under way
bool g_recording = false;  // primitives are recorded for the next swap
int g_partial = -1;        // partial redraw: -1 not yet known, 0 off, 1 on
bool g_partial_allowed = true;
frame_record g_cur, g_prev;  // this frame, and the one the back buffer holds
bool g_prev_valid = false;   // the back buffer holds exactly g_prev's drawing
long g_last_redrawn = -1;

void issue(const draw_cmd& c, const float* v) {
  OGL_setstate(1, c.tex_units, 3, c.alpha_mode, 9, 11);
  if (c.tex >= 1) tman.bind_ref(c.tex, 0, kTexEnvModulate);
  if (c.opaque_colour) {
    glColor3f(c.rgba[0], c.rgba[1], c.rgba[2]);
  } else {
    glColor4f(c.rgba[0], c.rgba[1], c.rgba[2], c.rgba[3]);
  }
  if (c.kind == kOpaqueQuad && copy_texels(c.copy, c.col, c.alpha)) return;
  const bool textured = c.kind == kQuads || c.kind == kOpaqueQuad;
  glBegin(c.kind == kLines ? GL_LINES : GL_QUADS);
  for (std::uint32_t i = 0; i < c.count; ++i, v += 4) {
    if (textured) glTexCoord2f(v[2], v[3]);
    glVertex2f(v[0], v[1]);
  }
  glEnd();
}

// Software renderers keep the back buffer across a swap (it is copied to
// the window); GPU drivers may hand back another buffer. Checked once on a
// single corner pixel before the first recorded frame is drawn.
bool back_buffer_kept() {
  const char* r = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  if (!r || (!std::strstr(r, "llvmpipe") && !std::strstr(r, "softpipe"))) return false;
  GLfloat keep[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, keep);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 1, 1);
  glClearColor(1, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  plat_win_swap();
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  plat_win_swap();
  std::uint8_t p[4] = {};
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(keep[0], keep[1], keep[2], keep[3]);
  return p[0] == 0 && p[1] == 255 && p[2] == 0;
}

std::array<float, 36> current_view() {
  std::array<float, 36> v{};
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  for (int i = 0; i < 4; ++i) v[i] = static_cast<float>(vp[i]);
  glGetFloatv(GL_PROJECTION_MATRIX, v.data() + 4);
  glGetFloatv(GL_MODELVIEW_MATRIX, v.data() + 20);
  return v;
}

// Maps 2-D units to window pixels when the view is an axis-aligned scale and
// shift (as the installer's orthographic view is); false otherwise.
bool view_scale(const std::array<float, 36>& v, float* ax, float* bx, float* ay, float* by) {
  const float* pm = v.data() + 4;
  const float* mv = v.data() + 20;
  const float off = std::fabs(pm[1]) + std::fabs(pm[4]) + std::fabs(pm[3]) + std::fabs(pm[7]) +
                    std::fabs(mv[1]) + std::fabs(mv[4]) + std::fabs(mv[3]) + std::fabs(mv[7]);
  if (off != 0.0f || pm[15] == 0.0f || mv[15] == 0.0f) return false;
  const float sx = pm[0] * mv[0] / (pm[15] * mv[15]),
              tx = (pm[0] * mv[12] + pm[12] * mv[15]) / (pm[15] * mv[15]);
  const float sy = pm[5] * mv[5] / (pm[15] * mv[15]),
              ty = (pm[5] * mv[13] + pm[13] * mv[15]) / (pm[15] * mv[15]);
  *ax = sx * 0.5f * v[2];
  *bx = v[0] + (tx + 1.0f) * 0.5f * v[2];
  *ay = sy * 0.5f * v[3];
  *by = v[1] + (ty + 1.0f) * 0.5f * v[3];
  return true;
}

// The pixels a command can touch, with a margin for rasterisation rules.
pixel_rect bounds(const frame_record& f, const draw_cmd& c, float ax, float bx, float ay, float by) {
  float lo_x = 1e9f, hi_x = -1e9f, lo_y = 1e9f, hi_y = -1e9f;
  const float* v = f.verts.data() + 4 * c.first;
  for (std::uint32_t i = 0; i < c.count; ++i, v += 4) {
    const float x = ax * v[0] + bx, y = ay * v[1] + by;
    lo_x = std::min(lo_x, x);
    hi_x = std::max(hi_x, x);
    lo_y = std::min(lo_y, y);
    hi_y = std::max(hi_y, y);
  }
  return {static_cast<int>(std::floor(lo_x)) - 2, static_cast<int>(std::floor(lo_y)) - 2,
          static_cast<int>(std::ceil(hi_x)) + 2, static_cast<int>(std::ceil(hi_y)) + 2};
}

bool same_cmd(const frame_record& a, const draw_cmd& x, const frame_record& b, const draw_cmd& y) {
  return x.kind == y.kind && x.tex == y.tex && x.tex_units == y.tex_units && x.alpha_mode == y.alpha_mode &&
         x.opaque_colour == y.opaque_colour && x.count == y.count &&
         std::memcmp(x.rgba, y.rgba, sizeof x.rgba) == 0 &&
         std::memcmp(a.verts.data() + 4 * x.first, b.verts.data() + 4 * y.first, 16u * x.count) == 0;
}

// True when the frame's first command paints every pixel of the window
// without reading it: what the frame shows then depends on its commands
// alone, not on what the back buffer held before.
bool covers_window(const frame_record& f, float ax, float bx, float ay, float by) {
  if (f.cmds.empty()) return false;
  const draw_cmd& c = f.cmds.front();
  if (c.kind == kLines || c.count != 4) return false;
  if (c.kind == kFill ? c.rgba[3] < 1.0f && !c.opaque_colour : c.kind != kOpaqueQuad) return false;
  const pixel_rect r = bounds(f, c, ax, bx, ay, by);  // with its margin of 2
  return r.x0 + 2 <= 0 && r.y0 + 2 <= 0 && r.x1 - 2 >= mnw.x_res_now && r.y1 - 2 >= mnw.y_res_now;
}

// The rectangle (inside the window) holding every command that differs
// between the two frames; empty when none does. One rectangle: each
// rectangle costs a replay of the whole frame, more than the pixels saved.
pixel_rect damage(const frame_record& cur, float ax, float bx, float ay, float by) {
  pixel_rect u{0, 0, 0, 0};
  bool any = false;
  auto add = [&](const frame_record& f, const draw_cmd& c) {
    const pixel_rect r = bounds(f, c, ax, bx, ay, by);
    u = any ? pixel_rect{std::min(u.x0, r.x0), std::min(u.y0, r.y0), std::max(u.x1, r.x1),
                         std::max(u.y1, r.y1)}
            : r;
    any = true;
  };
  const std::size_t n = std::max(g_prev.cmds.size(), cur.cmds.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (i >= g_prev.cmds.size()) {
      add(cur, cur.cmds[i]);
    } else if (i >= cur.cmds.size()) {
      add(g_prev, g_prev.cmds[i]);
    } else if (!same_cmd(g_prev, g_prev.cmds[i], cur, cur.cmds[i])) {
      add(g_prev, g_prev.cmds[i]);
      add(cur, cur.cmds[i]);
    }
  }
  u = {std::max(u.x0, 0), std::max(u.y0, 0), std::min(u.x1, mnw.x_res_now), std::min(u.y1, mnw.y_res_now)};
  if (u.x0 >= u.x1 || u.y0 >= u.y1) u = {0, 0, 0, 0};
  return u;
}

void replay(const frame_record& f) {
  for (const draw_cmd& c : f.cmds) issue(c, f.verts.data() + 4 * c.first);
}

// Draws the recorded frame: whole, or, when both it and the frame the back
// buffer holds cover the window and were drawn in the same view with the
// same textures, only inside the rectangles where their commands differ.
// Pixels outside those rectangles are drawn by equal commands in both
// frames, so they already hold what a whole redraw would give.
pixel_rect flush_frame(bool swapping) {
  const pixel_rect whole{0, 0, mnw.x_res_now, mnw.y_res_now};
  if (!g_recording) {
    if (swapping) g_prev_valid = false;  // drawn directly: the back buffer holds something unrecorded
    return whole;
  }
  if (!swapping && g_cur.cmds.empty()) return whole;
  // Drawing the frame can raise an alert (a missing texture), whose own
  // passes record and swap in the middle: they record anew, are drawn
  // whole, and leave the next frame to be drawn whole too.
  static int flushing = 0;
  static bool interrupted = false;
  const bool nested = flushing > 0;
  if (nested) interrupted = true;
  ++flushing;
  frame_record frame;
  std::swap(frame, g_cur);
  frame.view = current_view();
  frame.textures = tman.upload_count();
  float ax = 0, bx = 0, ay = 0, by = 0;
  const bool mapped = view_scale(frame.view, &ax, &bx, &ay, &by);
  frame.pure = mapped && covers_window(frame, ax, bx, ay, by);
  const bool partial = g_partial == 1 && g_partial_allowed && !nested && frame.pure && g_prev_valid &&
                       g_prev.pure && g_prev.view == frame.view && g_prev.textures == frame.textures;
  pixel_rect shown = whole;
  if (partial) {
    shown = damage(frame, ax, bx, ay, by);
    g_last_redrawn = shown.area();
    if (shown.area() > 0) {
      glEnable(GL_SCISSOR_TEST);
      glScissor(shown.x0, shown.y0, shown.x1 - shown.x0, shown.y1 - shown.y0);
      replay(frame);
      glDisable(GL_SCISSOR_TEST);
    }
  } else {
    replay(frame);
    g_last_redrawn = -1;
  }
  --flushing;
  // Without a swap the frame goes on drawing over this: no longer a record
  // of what the back buffer holds. Nor is it after an alert drew meanwhile.
  g_prev_valid = swapping && !(flushing == 0 && interrupted);
  if (flushing == 0) interrupted = false;
  std::swap(g_prev, frame);
  return shown;
}

void emit(draw_kind kind, int tex, int col, float alpha, int tex_units, int alpha_mode, const float* xyst,
          int vertex_count, const texel_rect* copy) {
  draw_cmd c{};
  c.kind = kind;
  c.tex = tex;
  c.col = col;
  c.alpha = alpha;
  c.tex_units = tex_units;
  c.alpha_mode = alpha_mode;
  c.opaque_colour = colr.resolve(col, alpha, c.rgba);
  if (c.opaque_colour) c.rgba[3] = 1.0f;  // what glColor3f makes current
  c.count = static_cast<std::uint32_t>(std::max(vertex_count, 0));
  if (copy) c.copy = *copy;
  if (!g_recording) {
    issue(c, xyst);
    return;
  }
  c.first = static_cast<std::uint32_t>(g_cur.verts.size() / 4);
  g_cur.verts.insert(g_cur.verts.end(), xyst, xyst + 4 * c.count);
  g_cur.cmds.push_back(c);
}

}  // namespace

void OGL_begin_frame() {
  if (g_pass_depth++ > 0 || g_recording) return;
  if (g_partial < 0 && plat_win_exists() && !plat_win_headless()) {
    g_partial = back_buffer_kept() ? 1 : 0;
    g_prev_valid = false;
  }
  g_recording = g_partial == 1;
}

void OGL_end_frame() {
  if (g_pass_depth > 0 && --g_pass_depth > 0) return;
  flush_frame(false);  // drawing left without a swap stays drawn, as it would have been at once
  g_recording = false;
}

void OGL_allow_partial_redraw(bool allowed) {
  g_partial_allowed = allowed;
}

long OGL_last_redrawn_pixels() {
  return g_last_redrawn;
}

void OGL_forget_frames() {
  g_partial = -1;
  g_prev_valid = false;
  g_prev.clear();
  g_cur.clear();
}

void OGL_2dquad(int tex, int col, float alpha, float x1, float y1, float s1, float t1, float x2, float y2,
                float s2, float t2, float x3, float y3, float s3, float t3, float x4, float y4, float s4,
                float t4, int tex_units, int alpha_mode) {
  const float ox = mnw.win_x, oy = mnw.win_y;
  // Blending that cannot change a pixel is left off: same pixels, and the
  // software renderer need not read the covered pixels back. Such a quad in
  // white is a plain copy of texels, done as one.
  texel_rect copy;
  const bool opaque =
      alpha_mode == 5 &&
      blend_changes_nothing(tex, alpha, tex_units, {x1 + ox, x2 + ox, x3 + ox, x4 + ox},
                            {y1 + oy, y2 + oy, y3 + oy, y4 + oy}, {s1, s2, s3, s4}, {t1, t2, t3, t4}, &copy);
  const float v[16] = {x1 + ox, y1 + oy, s1, t1, x2 + ox, y2 + oy, s2, t2,
                       x3 + ox, y3 + oy, s3, t3, x4 + ox, y4 + oy, s4, t4};
  emit(opaque ? kOpaqueQuad : kQuads, tex, col, alpha, tex_units, opaque ? 4 : alpha_mode, v, 4, &copy);
}

void OGL_2dquad_box(int tex, int col, float alpha, const screen_box& at, float s1, float t1, float s2,
                    float t2, int tex_units, int alpha_mode) {
  const float x1 = at.x, y1 = at.y, x2 = at.x + at.dx, y2 = at.y + at.dy;
  OGL_2dquad(tex, col, alpha, x1, y1, s1, t1, x1, y2, s1, t2, x2, y2, s2, t2, x2, y1, s2, t1, tex_units,
             alpha_mode);
}

void OGL_plot_back_col() {
  OGL_fillrect(34, 1.0f, -mnw.win_x, -mnw.win_y, static_cast<float>(mnw.x_res_now),
               static_cast<float>(mnw.y_res_now));
}

void OGL_sbuff() {
  // Uncovered or under a closed dialog: what the window shows is lost, so
  // this frame is drawn and shown whole, however little it changed.
  if (plat_win_take_damaged()) g_prev_valid = false;
  const pixel_rect changed = flush_frame(true);
  glColor4f(1.0f, 1.0f, 1.0f, ren.current_alpha);
  // The back buffer is kept: a frame that changed part of the window needs
  // only that part shown, and one that changed nothing needs nothing.
  const bool whole =
      changed.x0 == 0 && changed.y0 == 0 && changed.x1 == mnw.x_res_now && changed.y1 == mnw.y_res_now;
  if (whole) {
    plat_win_swap();
  } else if (changed.area() > 0 && !plat_win_present_rect(changed.x0, changed.y0, changed.x1 - changed.x0,
                                                          changed.y1 - changed.y0)) {
    plat_win_swap();
  }
}

void OGL_nrml_colors() {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void OGL_color(const float rgba[4], bool opaque) {
  if (opaque) {
    glColor3f(rgba[0], rgba[1], rgba[2]);
  } else {
    glColor4f(rgba[0], rgba[1], rgba[2], rgba[3]);
  }
}

// ---- The context's set-up ---------------------------------------------------

void OGL_set_defaults() {
  const GLfloat black[4] = {0, 0, 0, 0};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glAlphaFunc(GL_GREATER, 0.0f);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDepthFunc(GL_LEQUAL);
  glFogi(GL_FOG_MODE, GL_LINEAR);
  glHint(GL_FOG_HINT, GL_NICEST);
  glFrontFace(GL_CW);
  glEnable(GL_CULL_FACE);
  glShadeModel(GL_SMOOTH);
  glEnable(GL_DITHER);
  glDisable(GL_COLOR_LOGIC_OP);
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_TEXTURE_1D);
  glDisable(GL_NORMALIZE);
  glDisable(GL_SCISSOR_TEST);
  glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
  glDepthMask(GL_FALSE);
  OGL_reset_state_cache();
}

void OGL_set_ortho(int w, int h, float left, float right, float bottom, float top) {
  glViewport(0, 0, w, h);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(left, right, bottom, top, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void OGL_reset_after_interruption() {
  glEnd();
  glEndList();
  for (int i = 0; i < 30 && glGetError() != GL_NO_ERROR; ++i) {
  }
  OGL_nrml_colors();
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDisable(GL_SCISSOR_TEST);
  OGL_reset_state_cache();
}

bool OGL_has_extension(const std::string& list, const char* name) {
  size_t pos = 0;
  const size_t n = std::strlen(name);
  while ((pos = list.find(name, pos)) != std::string::npos) {
    const bool start = pos == 0 || list[pos - 1] == ' ';
    const bool end = pos + n == list.size() || list[pos + n] == ' ';
    if (start && end) return true;
    pos += n;
  }
  return false;
}

ogl_implementation OGL_query_implementation() {
  auto text = [](GLenum e) -> std::string {
    const GLubyte* s = glGetString(e);
    return s ? reinterpret_cast<const char*>(s) : "";
  };
  ogl_implementation gl;
  gl.vendor = text(GL_VENDOR);
  gl.renderer = text(GL_RENDERER);
  gl.version = text(GL_VERSION);
  gl.extensions = text(GL_EXTENSIONS);
  GLint v = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
  gl.max_tex_size = v;
  v = 1;
  if (OGL_has_extension(gl.extensions, "GL_ARB_multitexture")) glGetIntegerv(GL_MAX_TEXTURE_UNITS, &v);
  gl.tex_units = v;
  return gl;
}

// ---- Text -------------------------------------------------------------------

float chr_dx(char c) {
  return static_cast<float>(font_advance(static_cast<unsigned char>(c)));
}

float text_width(std::string_view s) {
  float w = 0.0f;
  for (char c : s) w += chr_dx(c);
  return w;
}

float menu_dx(std::string_view s) {
  if (mnw.lang == 6) return 8.0f * static_cast<float>(s.size());
  return text_width(s);
}

float str_start_x(float x, std::string_view text, int just) {
  const float w = text_width(text);
  if (just == kJustCentre) return x - w * 0.5f;
  if (just == kJustRight) return x - w;
  return x;
}

int OGL_strtex(int charset, int col, float* u_origin, float* v_origin, int* cell_w, int* cell_h) {
  int advance = 0, cw = kGlyphCellW, ch = kGlyphCellH, tex = kTexInterface;
  switch (charset) {
    case kCharsetProportional:
      break;
    case kCharsetFixed10:
      advance = 10;
      break;
    case kCharsetTable40:
      advance = 15;
      cw = ch = 13;
      tex = kTexFont103;
      break;
    default:
      MACIBM_alert(-1, "String proc with bad charset!", "", "", "", t_exit, "oglp", __LINE__);
      return -1;
  }
  OGL_setstate(1, 1, 3, 5, 9, 11);
  colr.set_index(col, 1.0f);
  tman.bind_ref(tex, 0, kTexEnvModulate);
  if (u_origin) *u_origin = 0.0f;
  if (v_origin) *v_origin = 0.0f;
  if (cell_w) *cell_w = cw;
  if (cell_h) *cell_h = ch;
  return advance;
}

void str_one_line(int col, float x, float y, std::string_view text, int charset, int just) {
  float u0 = 0, v0 = 0;
  int cw = 0, ch = 0;
  const int advance = OGL_strtex(charset, col, &u0, &v0, &cw, &ch);
  if (advance < 0 || text.empty()) return;
  x = str_start_x(x, text, just);
  const float scale = oglp.font_size > 0.0f ? oglp.font_size : 1.0f;
  const float qw = cw * scale, qh = ch * scale;
  const float du = cw / kFontTexels, dv = ch / kFontTexels;
  std::vector<float>& v = text_verts();
  v.clear();
  for (char c : text) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    const float xi = std::trunc(x), yi = std::trunc(y) - 4.0f;
    const unsigned char b = static_cast<unsigned char>(c);
    float u, w;
    if (charset == kCharsetTable40) {
      u = u0 + (b % 40) * 13.0f;
      w = v0 + (b / 40) * 13.0f;
    } else {
      const glyph_cell cell = font_cell(b);
      u = u0 + cell.column * static_cast<float>(kGlyphCellW);
      w = v0 + cell.row * static_cast<float>(kGlyphCellH);
    }
    u /= kFontTexels;
    w /= kFontTexels;
    v.insert(v.end(), {xi, yi, u, w, xi, yi + qh, u, w + dv, xi + qw, yi + qh, u + du, w + dv, xi + qw, yi,
                       u + du, w});
    x += advance ? static_cast<float>(advance) : chr_dx(c);
  }
  const int tex = charset == kCharsetTable40 ? kTexFont103 : kTexInterface;
  emit(kQuads, tex, col, 1.0f, 1, 5, v.data(), static_cast<int>(v.size() / 4));
}

float OGL_string(int col, float x, float y, std::string_view text, float max_width, int charset, int just) {
  const int advance = OGL_strtex(charset, col, nullptr, nullptr, nullptr, nullptr);
  if (advance < 0) return y;
  return layout(
      x, y, text, max_width, advance, mnw.win_x, mnw.win_y,
      [&](std::string_view line, float lx, float ly) { str_one_line(col, lx, ly, line, charset, just); });
}

float OGL_string_layout(float x, float y, std::string_view text, float max_width, int fixed_advance,
                        float win_x, float win_y, std::vector<text_line_pos>* lines) {
  return layout(x, y, text, max_width, fixed_advance, win_x, win_y,
                [&](std::string_view line, float lx, float ly) {
                  if (lines) lines->push_back({line, lx, ly});
                });
}
