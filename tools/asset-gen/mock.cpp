#include "mock.h"

#include <cmath>

#include "ui/font_table.h"
#include "ui/screen_rects.h"

namespace {

float rnd(float v) {
  return v < 0 ? -std::floor(-v + 0.5f) : std::floor(v + 0.5f);
}

}  // namespace

mock_screen::mock_screen(const canvas& interface_image, const canvas& atlas, const canvas& background)
    : iface_(interface_image), atlas_(atlas), bg_(background), screen_(1024, 768) {}

void mock_screen::window(float dx, float dy) {
  if (dx <= 0) {
    win_x_ = win_y_ = 0, win_dx_ = 1024, win_dy_ = 768;
    return;
  }
  win_dx_ = dx, win_dy_ = dy;
  win_x_ = std::max(0.0f, std::trunc(rnd((1024 - dx) * 0.5f)));
  win_y_ = std::max(0.0f, std::trunc(rnd((768 - dy) * 0.5f)));
}

rgba mock_screen::colour(int col) const {
  for (const auto& p : kPalettePixels)
    if (p.col == col) return iface_.get(p.x, p.y);
  switch (col) {
    case 1:
      return {1, 0.2f, 0.2f, 1};
    case 13:
      return {0, 0.4f, 0, 1};
    case 39:
      return mix(colour(35), colour(38), 0.5f);
    case 61:
      return {0.5f, 0.5f, 0.5f, 1};
    case 69:
      return {1, 0, 0, 1};
    case 81:
      return {1, 0.3f, 0.3f, 1};
    default:
      return {1, 1, 1, 1};
  }
}

void mock_screen::back_fill() {
  rgba c = colour(34);
  c.a = 1;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) screen_.set(x, y, c);
}

void mock_screen::background() {
  const float wx = win_x_, wy = win_y_;
  win_x_ = win_y_ = 0;
  quad(bg_, 0, 0, 1024, 768, 0, 0, 1024, 768, {1, 1, 1, 1});
  win_x_ = wx, win_y_ = wy;
}

void mock_screen::fillrect(int col, float x, float y, float dx, float dy) {
  const rgba c = colour(col);
  for (int py = static_cast<int>(y + win_y_); py < static_cast<int>(y + dy + win_y_); ++py)
    for (int px = static_cast<int>(x + win_x_); px < static_cast<int>(x + dx + win_x_); ++px)
      screen_.blend(px, py, c);
}

void mock_screen::quad(const canvas& tex, float s0, float t0, float s1, float t1, float x0, float y0,
                       float x1, float y1, const rgba& tint) {
  x0 += win_x_, x1 += win_x_, y0 += win_y_, y1 += win_y_;
  if (x1 <= x0 || y1 <= y0) return;
  // Pixel centres inside the quad, as GL rasterizes it; nearest texel.
  const int px0 = static_cast<int>(std::ceil(x0 - 0.5f)), px1 = static_cast<int>(std::ceil(x1 - 0.5f));
  const int py0 = static_cast<int>(std::ceil(y0 - 0.5f)), py1 = static_cast<int>(std::ceil(y1 - 0.5f));
  // The atlas lives in a 1024-texel texture; outside the picture is empty.
  const bool is_atlas = &tex == &atlas_;
  const int tw = is_atlas ? 1024 : tex.width(), th = is_atlas ? 1024 : tex.height();
  for (int py = py0; py < py1; ++py)
    for (int px = px0; px < px1; ++px) {
      const float s = s0 + (px + 0.5f - x0) / (x1 - x0) * (s1 - s0);
      const float t = t0 + (py + 0.5f - y0) / (y1 - y0) * (t1 - t0);
      int si = static_cast<int>(std::floor(s)) % tw, ti = static_cast<int>(std::floor(t)) % th;
      if (si < 0) si += tw;
      if (ti < 0) ti += th;
      if (!tex.inside(si, ti)) continue;
      rgba c = tex.get(si, ti);
      c.r *= tint.r, c.g *= tint.g, c.b *= tint.b, c.a *= tint.a;
      screen_.blend(px, py, c);
    }
}

void mock_screen::str_one_line(int col, float x, float y, const std::string& text, int just) {
  float w = 0;
  for (unsigned char c : text) w += font_advance(c);
  if (just == 1) x -= w * 0.5f;
  if (just == 2) x -= w;
  const rgba tint = colour(col);
  for (unsigned char c : text) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    const float xi = std::trunc(x), yi = std::trunc(y) - 4;
    const glyph_cell cell = font_cell(c);
    const float u = cell.column * 14.0f, v = cell.row * 15.0f;
    const float sx = win_x_, sy = win_y_;
    win_x_ = win_y_ = 0;  // coordinates are already absolute
    quad(iface_, u, v, u + 14, v + 15, xi, yi, xi + 14, yi + 15, tint);
    win_x_ = sx, win_y_ = sy;
    x += font_advance(c);
  }
}

float mock_screen::string(int col, float x, float y, const std::string& text, float max_width, int just) {
  float x0 = rnd(x + win_x_), y0 = rnd(y + win_y_ - 2);
  if (max_width <= 0 || max_width >= 9999) {
    str_one_line(col, x0, y0, text, just);
    return y;
  }
  std::string line;
  float pen = x0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    line += c;
    pen += font_advance(static_cast<unsigned char>(c));
    if (c == '\n' || i + 1 == text.size()) {
      str_one_line(col, x0, y0, line, just);
      y0 -= 10, line.clear(), pen = x0;
    } else if (c == ' ' || c == '-' || c == '/') {
      float est = 0;
      for (std::size_t j = i + 1; j < text.size() && text[j] != ' ' && text[j] != '-' && text[j] != '/'; ++j)
        est += 6;
      if (pen + est > x0 + max_width) str_one_line(col, x0, y0, line, just), y0 -= 10, line.clear(), pen = x0;
    }
  }
  return y0 - win_y_ + 2;
}

void mock_screen::frame1(int style, float x, float y, float width) {
  const bar_cell* b = nullptr;
  for (const auto& c : kBarCells)
    if (c.style == style) b = &c;
  if (!b) return;
  x = rnd(x), width = 2 * rnd(width / 2);
  if (style == 9 || style == 10) width += 4;
  if (style == 0 || style == 1) y -= 3;
  const float left = x - width / 2, right = x + width / 2;
  const float y0 = y - b->height / 2.0f, y1 = y + b->height / 2.0f;
  const float u = b->u, v = b->v, cap = b->cap, mid = b->strip - 2 * b->cap;
  const rgba white{1, 1, 1, 1};
  quad(iface_, u, v, u + cap, v + b->height, left, y0, left + cap, y1, white);
  const int n = static_cast<int>(rnd((width - 2 * cap) / mid)) + 1;
  float pen = left + cap;
  for (int i = 0; i < n && pen < right - cap; ++i) {
    const float w = std::min(mid, right - cap - pen);
    quad(iface_, u + cap, v, u + cap + w, v + b->height, pen, y0, pen + w, y1, white);
    pen += w;
  }
  quad(iface_, u + b->strip - cap, v, u + b->strip, v + b->height, right - cap, y0, right, y1, white);
}

void mock_screen::frame2(int style, float x, float y, float dx, float dy, const std::string& title) {
  const frame_cell* f = nullptr;
  for (const auto& c : kFrameCells)
    if (c.style == style) f = &c;
  if (!f) return;
  const canvas& tex = style == 20 ? atlas_ : iface_;
  const float X0 = x - f->side, X1 = x + dx + f->side, Y0 = y - f->below, Y1 = y + dy + f->above;
  const float cw = style == 17 ? 20 : 0.35f * f->cell;
  const float cb = style == 17 ? 14 : 0.3f * f->cell, ct = style == 17 ? 26 : 0.3f * f->cell;
  const float u0 = f->u, v0 = f->v, u1 = f->u + f->cell, v1 = f->v + f->cell;
  // Column and row bands: screen span and texel span of each.
  const float xs[4] = {X0, X0 + cw, X1 - cw, X1}, us[4] = {u0, u0 + cw, u1 - cw, u1};
  const float ys[4] = {Y0, Y0 + cb, Y1 - ct, Y1}, vs[4] = {v0, v0 + cb, v1 - ct, v1};
  const rgba white{1, 1, 1, 1};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      if (xs[i + 1] <= xs[i] || ys[j + 1] <= ys[j]) continue;
      // Middle bands repeat the cell's middle 1:1, the last repeat cut.
      const float mw = us[i + 1] - us[i], mh = vs[j + 1] - vs[j];
      for (float py = ys[j]; py < ys[j + 1]; py += mh)
        for (float px = xs[i]; px < xs[i + 1]; px += mw) {
          const float w = std::min(mw, xs[i + 1] - px), h = std::min(mh, ys[j + 1] - py);
          quad(tex, us[i], vs[j], us[i] + w, vs[j] + h, px, py, px + w, py + h, white);
        }
    }
  if (!title.empty()) {
    float w = 0;
    for (unsigned char c : title) w += font_advance(c);
    const int col = style == 11 ? 40 : style == 15 ? 47 : 43;
    string(col, x + (dx - w) / 2, y + dy - (style == 11 ? 13 : 16), title, 0, 0);
  }
}

void mock_screen::fillwin(const std::string& title) {
  frame2(11, 0, 0, win_dx_, win_dy_, title);
}

void mock_screen::action(float x, float y, float width, bool pressed, const std::string& label) {
  if (width <= 0) {
    width = 21;
    for (unsigned char c : label) width += font_advance(c);
  }
  frame1(2, x, y, width);
  if (pressed) frame1(3, x, y, width);
  string(43, x, y - 3, label, 0, 1);
}

void mock_screen::icon(int cx, int cy, float x, float y) {
  quad(iface_, cx - 9, cy - 9, cx + 9, cy + 9, x - 9, y - 9, x + 9, y + 9, {1, 1, 1, 1});
}

void mock_screen::radio(float x, float y, bool on, const std::string& label) {
  icon(92, 132, x, y + 3);
  if (on) icon(92, 151, x, y + 3);
  string(43, x - 12, y, label, 0, 2);
}

void mock_screen::check(float x, float y, bool on, const std::string& label) {
  icon(148, 187, x, y + 3);
  if (on) icon(148, 206, x, y + 3);
  string(43, x + 12, y, label, 0, 0);
}

void mock_screen::zap_boxes(bool pressed) {
  const int cx = pressed ? 206 : 187;
  icon(cx, 129, 16, win_dy_ - 10);
  icon(cx, 129, win_dx_ - 16, win_dy_ - 10);
}

void mock_screen::interface_rect(float x, float y, float s, float t, float ds, float dt, int look,
                                 int col_code) {
  rgba tint{1, 1, 1, 1};
  if (col_code == 1) tint = {0.8f, 1, 0.8f, 1};
  if (col_code == 2) tint = {1, 0.8f, 0.8f, 1};
  t -= look * (dt + 1);
  quad(atlas_, s, t, s + ds, t + dt, x, y, x + ds, y + dt, tint);
}
