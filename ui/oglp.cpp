#include "ui/oglp.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/window.h"
#include "ui/colr.h"
#include "ui/font_table.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/tman.h"

#ifndef GL_MAX_TEXTURE_UNITS
#define GL_MAX_TEXTURE_UNITS 0x84E2
#endif

oglp_class oglp;

int o_fog = -1, o_tex = -1, o_lit = -1, o_alB = -1, o_alT = -1, o_deR = -1, o_deW = -1;

namespace {

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
  OGL_setstate(1, 0, 3, 5, 9, 11);
  colr.set_index(col, alpha);
  x += mnw.win_x;
  y += mnw.win_y;
  glBegin(GL_QUADS);
  glVertex2f(x, y);
  glVertex2f(x, y + dy);
  glVertex2f(x + dx, y + dy);
  glVertex2f(x + dx, y);
  glEnd();
}

void OGL_line(int col, float alpha, float x1, float y1, float x2, float y2) {
  OGL_setstate(1, 0, 3, 5, 9, 11);
  colr.set_index(col, alpha);
  const float ox = mnw.win_x + 0.5f, oy = mnw.win_y + 0.5f;
  glBegin(GL_LINES);
  glVertex2f(x1 + ox, y1 + oy);
  glVertex2f(x2 + ox, y2 + oy);
  glEnd();
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
  if (opaque) alpha_mode = 4;
  OGL_setstate(1, tex_units, 3, alpha_mode, 9, 11);
  if (tex >= 1) tman.bind_ref(tex, 0, kTexEnvModulate);
  colr.set_index(col, alpha);
  if (opaque && copy_texels(copy, col, alpha)) return;
  glBegin(GL_QUADS);
  glTexCoord2f(s1, t1);
  glVertex2f(x1 + ox, y1 + oy);
  glTexCoord2f(s2, t2);
  glVertex2f(x2 + ox, y2 + oy);
  glTexCoord2f(s3, t3);
  glVertex2f(x3 + ox, y3 + oy);
  glTexCoord2f(s4, t4);
  glVertex2f(x4 + ox, y4 + oy);
  glEnd();
}

void OGL_plot_back_col() {
  OGL_fillrect(34, 1.0f, -mnw.win_x, -mnw.win_y, static_cast<float>(mnw.x_res_now),
               static_cast<float>(mnw.y_res_now));
}

void OGL_sbuff() {
  glColor4f(1.0f, 1.0f, 1.0f, ren.current_alpha);
  plat_win_swap();
}

void OGL_nrml_colors() {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
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
  glBegin(GL_QUADS);
  for (char c : text) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    const float xi = std::trunc(x), yi = std::trunc(y) - 4.0f;
    const unsigned char b = static_cast<unsigned char>(c);
    float u, v;
    if (charset == kCharsetTable40) {
      u = u0 + (b % 40) * 13.0f;
      v = v0 + (b / 40) * 13.0f;
    } else {
      const glyph_cell cell = font_cell(b);
      u = u0 + cell.column * static_cast<float>(kGlyphCellW);
      v = v0 + cell.row * static_cast<float>(kGlyphCellH);
    }
    u /= kFontTexels;
    v /= kFontTexels;
    glTexCoord2f(u, v);
    glVertex2f(xi, yi);
    glTexCoord2f(u, v + dv);
    glVertex2f(xi, yi + qh);
    glTexCoord2f(u + du, v + dv);
    glVertex2f(xi + qw, yi + qh);
    glTexCoord2f(u + du, v);
    glVertex2f(xi + qw, yi);
    x += advance ? static_cast<float>(advance) : chr_dx(c);
  }
  glEnd();
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
