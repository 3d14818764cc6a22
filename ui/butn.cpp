// Widgets. Sections: style tables; geometry (pure); drawing helpers; bars and
// frames; window backgrounds and panels; push buttons and labels; check
// boxes, radios and close boxes; the focus ring.
#include "ui/butn.h"

#include <cmath>
#include <cstdlib>
#include <deque>

#include "ui/colr.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"
#include "ui/screen_rects.h"
#include "ui/tman.h"

std::vector<focus_info_t> focus_ring;
int focus_id = 0;
int wind_focus = 0;

namespace {

// ---- Style tables -----------------------------------------------------------

// The bar strips, frame cells and icon cells are in ui/screen_rects.h.
constexpr float kIconSize = static_cast<float>(kIconCellSize);

constexpr float kInterfaceTexels = 512.0f;

// Label colours.
constexpr int kColLabel = 43, kColLabelPulse = 81, kColSideText = 45;

float rnd(float v) {
  return std::round(v);
}  // half away from zero

// A run of pieces along one axis: screen span and texel span.
struct segment {
  float a, b;    // screen
  float ta, tb;  // texels
};

// Tiles the screen span [a, b) with copies of texels [ta, ta + len): whole
// repeats, the last one cut, its texture cut in proportion.
void tile(float a, float b, float ta, float len, std::vector<segment>* out) {
  if (len <= 0.0f) return;
  for (float p = a; p < b - 1e-4f; p += len) {
    const float e = std::min(p + len, b);
    out->push_back({p, e, ta, ta + (e - p)});
  }
}

// Pieces are rebuilt on every draw into buffers that are kept, so an idle
// pass does not allocate (main thread only). Drawing can nest (an alert
// raised while binding draws its own widgets), so each nesting level has its
// own buffer.
class quad_buffer {
 public:
  quad_buffer() {
    if (depth_ >= pool_.size()) pool_.emplace_back();
    buf_ = &pool_[depth_++];
    buf_->clear();
  }
  ~quad_buffer() { --depth_; }
  quad_buffer(const quad_buffer&) = delete;
  quad_buffer& operator=(const quad_buffer&) = delete;
  std::vector<btn_quad>& get() { return *buf_; }

 private:
  static inline std::deque<std::vector<btn_quad>> pool_;  // deque: growth keeps references
  static inline std::size_t depth_ = 0;
  std::vector<btn_quad>* buf_;
};

// ---- Drawing helpers --------------------------------------------------------

void draw_quads(int tex, int col, const std::vector<btn_quad>& quads) {
  const float ox = mnw.win_x, oy = mnw.win_y;
  static std::vector<float> v;  // drawing happens on the main thread only
  v.clear();
  for (const btn_quad& q : quads) {
    v.insert(v.end(), {q.x1 + ox, q.y1 + oy, q.s1, q.t1, q.x1 + ox, q.y2 + oy, q.s1, q.t2, q.x2 + ox,
                       q.y2 + oy, q.s2, q.t2, q.x2 + ox, q.y1 + oy, q.s2, q.t1});
  }
  OGL_quads(tex, col, 1.0f, v.data(), static_cast<int>(v.size() / 4));
}

// An 18 x 18 icon of the interface image centred at (x, y), from `cell`.
void draw_icon(float x, float y, const icon_cell& cell) {
  const float u = static_cast<float>(cell.cx), v = static_cast<float>(cell.cy);
  const float h = kIconSize * 0.5f;
  const btn_quad q{x - h,
                   y - h,
                   x + h,
                   y + h,
                   (u - h) / kInterfaceTexels,
                   (v - h) / kInterfaceTexels,
                   (u + h) / kInterfaceTexels,
                   (v + h) / kInterfaceTexels};
  quad_buffer buf;
  buf.get().push_back(q);
  draw_quads(kTexInterface, 0, buf.get());
}

bool menu_open() {
  return mnw.menu_up >= 0;
}

}  // namespace

// ---- Geometry ---------------------------------------------------------------

bool BTN_frame1_quads(int style, float x, float y, float width, std::vector<btn_quad>* out) {
  out->clear();
  const bar_cell* cell = bar_cell_of(style);
  if (!cell) return false;
  const bar_cell& s = *cell;
  x = rnd(x);
  width = 2.0f * rnd(width * 0.5f);
  if (style == 9 || style == 10) width += 4.0f;
  if (style == 0 || style == 1) y -= 3.0f;
  if (width <= 0.0f) return true;
  const float left = x - width * 0.5f, right = x + width * 0.5f;
  const float bottom = y - s.height * 0.5f, top = y + s.height * 0.5f;
  const float t1 = s.v / kInterfaceTexels, t2 = (s.v + s.height) / kInterfaceTexels;
  // A bar narrower than its two caps shows the outer halves of the caps.
  const float cap = std::min(static_cast<float>(s.cap), width * 0.5f);
  auto piece = [&](float a, float b, float ta, float tb) {
    out->push_back({a, bottom, b, top, ta / kInterfaceTexels, t1, tb / kInterfaceTexels, t2});
  };
  piece(left, left + cap, s.u, s.u + cap);
  const float mid = static_cast<float>(s.strip - 2 * s.cap);
  const float mid_u = static_cast<float>(s.u + s.cap);
  const float inner_end = right - cap;
  if (mid > 0.0f && inner_end > left + cap) {
    const int n = static_cast<int>(rnd((width - 2.0f * s.cap) / mid)) + 1;
    for (int i = 0; i < n; ++i) {
      const float a = left + cap + i * mid;
      if (a >= inner_end) break;
      const float b = std::min(a + mid, inner_end);
      piece(a, b, mid_u, mid_u + (b - a));
    }
  }
  piece(right - cap, right, s.u + s.strip - cap, s.u + s.strip);
  return true;
}

bool BTN_frame2_quads(int style, float x, float y, float dx, float dy, std::vector<btn_quad>* out, int* tex) {
  out->clear();
  const frame_cell* fc = frame_cell_of(style);
  if (!fc) return false;
  const frame_cell& s = *fc;
  const float texels = style == kAtlasFrameStyle ? kAtlasSheetTexels : kInterfaceTexels;
  if (tex) *tex = style == kAtlasFrameStyle ? kTexInstAtlas : kTexInterface;

  const float x1 = x - s.side, x2 = x + dx + s.side;
  const float y1 = y - s.below, y2 = y + dy + s.above;
  if (x2 <= x1 || y2 <= y1) return true;
  const float cell = static_cast<float>(s.cell);
  float corner_w = 0.35f * cell, corner_b = 0.3f * cell, corner_t = 0.3f * cell;
  if (style == 17) {
    corner_w = 20.0f;
    corner_b = 14.0f;
    corner_t = 26.0f;
  }
  const float mid_w = cell - 2.0f * corner_w, mid_h = cell - corner_b - corner_t;
  const float mid_u = s.u + corner_w, mid_v = s.v + corner_b;
  // A frame smaller than its corners shows the outer parts of the corners.
  const float cw = std::min(corner_w, (x2 - x1) * 0.5f);
  const float cb = std::min(corner_b, (y2 - y1) * corner_b / (corner_b + corner_t));
  const float ct = std::min(corner_t, (y2 - y1) * corner_t / (corner_b + corner_t));

  // Kept between calls so that drawing a frame does not allocate.
  static thread_local std::vector<segment> cols, rows;
  cols.clear();
  rows.clear();
  cols.push_back({x1, x1 + cw, static_cast<float>(s.u), s.u + cw});
  tile(x1 + cw, x2 - cw, mid_u, mid_w, &cols);
  cols.push_back({x2 - cw, x2, s.u + cell - cw, s.u + cell});
  rows.push_back({y1, y1 + cb, static_cast<float>(s.v), s.v + cb});
  tile(y1 + cb, y2 - ct, mid_v, mid_h, &rows);
  rows.push_back({y2 - ct, y2, s.v + cell - ct, s.v + cell});

  for (const segment& r : rows) {
    if (r.b <= r.a) continue;
    for (const segment& c : cols) {
      if (c.b <= c.a) continue;
      out->push_back({c.a, r.a, c.b, r.b, c.ta / texels, r.ta / texels, c.tb / texels, r.tb / texels});
    }
  }
  return true;
}

float BTN_action_width(float width, std::string_view label) {
  return width > 0.0f ? width : text_width(label) + 21.0f;
}

bool BTN_action_hit(float x, float y, float width, float mx, float my) {
  const float half = width * 0.5f;
  return mx >= x - half && mx <= x + half && my >= y - 10.0f && my <= y + 10.0f;
}

bool BTN_bool_hit(float x, float y, float mx, float my) {
  return mx >= x - 8.0f && mx <= x + 8.0f && my >= y - 4.0f && my <= y + 12.0f;
}

int BTN_zap_hit(float win_dx, float win_dy, float mx, float my) {
  const float cy = win_dy - 10.0f;
  if (std::fabs(my - cy) > 9.0f) return 0;
  if (std::fabs(mx - 16.0f) <= 9.0f) return 1;
  if (std::fabs(mx - (win_dx - 16.0f)) <= 9.0f) return 2;
  return 0;
}

int BTN_label_lines(std::string_view text, int mode, std::string_view lines[2]) {
  if (text.empty()) return 0;
  const bool forced = text.front() == '-';
  if (forced) text.remove_prefix(1);
  if (text.empty()) return 0;
  if (mode == 1 || (!forced && text.size() <= 12)) {
    lines[0] = text;
    return 1;
  }
  // The break nearest the middle, never the first or last byte; the
  // earlier one wins a tie.
  const float middle = text.size() * 0.5f;
  std::size_t best = 0;
  float best_dist = 1e9f;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c != ' ' && c != '-' && c != '/') continue;
    const float d = std::fabs(static_cast<float>(i) - middle);
    if (d < best_dist) {
      best_dist = d;
      best = i;
    }
  }
  if (best == 0) {
    lines[0] = text;
    return 1;
  }
  lines[0] = text.substr(0, best);
  lines[1] = text.substr(best + 1);
  return 2;
}

namespace {

// The label syntax on views into `label` (no copies: widgets split their
// labels on every pass).
struct label_views {
  std::string_view left, right, help;
};
label_views split_label(std::string_view label) {
  label_views v;
  const std::size_t bar = label.rfind('|');
  const std::size_t brace = label.rfind('{');
  const bool has_help = brace != std::string_view::npos && (bar == std::string_view::npos || brace > bar);
  if (bar != std::string_view::npos) {
    v.left = label.substr(0, bar);
    const std::size_t end = has_help ? brace : label.size();
    v.right = label.substr(bar + 1, end - bar - 1);
  } else {
    // Without a '|' the help part is still not shown as the label.
    v.left = has_help ? label.substr(0, brace) : label;
  }
  if (brace != std::string_view::npos && brace + 2 <= label.size()) v.help = label.substr(brace + 2);
  return v;
}

}  // namespace

void BTN_expand_label(std::string_view label, std::string* left, std::string* right, std::string* help) {
  const label_views v = split_label(label);
  if (left) left->assign(v.left);
  if (right) right->assign(v.right);
  if (help) help->assign(v.help);
}

// ---- Bars and frames --------------------------------------------------------

void BTN_frame1(int style, float x, float y, float width, int col) {
  quad_buffer buf;
  std::vector<btn_quad>& quads = buf.get();
  if (!BTN_frame1_quads(style, x, y, width, &quads)) {
    MACIBM_alert(-1, "Bad BTN_frame1 call!", "", "", "", t_exit, "butn", __LINE__);
    return;
  }
  draw_quads(kTexInterface, col, quads);
}

void BTN_frame2(int style, float x, float y, float dx, float dy, std::string_view title) {
  quad_buffer buf;
  std::vector<btn_quad>& quads = buf.get();
  int tex = kTexInterface;
  if (!BTN_frame2_quads(style, x, y, dx, dy, &quads, &tex)) {
    MACIBM_alert(-1, "Bad BTN_frame2 call!", "", "", "", t_exit, "butn", __LINE__);
    return;
  }
  draw_quads(tex, 0, quads);
  if (!title.empty()) {
    const int col = style == 11 ? 40 : (style == 15 ? 47 : 43);
    const float ty = y + dy - (style == 11 ? 13.0f : 16.0f);
    OGL_string(col, x + (dx - text_width(title)) * 0.5f, ty, title, 0.0f, kCharsetProportional, kJustLeft);
  }
}

// ---- Window backgrounds and panels -----------------------------------------

void BTN_fillwin(int titled, int body) {
  BTN_frame2(titled ? 11 : 12, 0.0f, 0.0f, mnw.win_dx, mnw.win_dy, stls.win_name);
  if (body == 1) {
    BTN_frame1(1, mnw.win_dx * 0.5f, mnw.win_dy - 50.0f, mnw.win_dx, 0);
  } else if (body != 21) {
    BTN_frame2(body, 10.0f, 10.0f, mnw.win_dx - 20.0f, mnw.win_dy - 40.0f, "");
  }
}

void BTN_subwin(float top_gap, int style, float x, float y, float dx, float dy, std::string_view title,
                float* next_x, float* next_y) {
  if (x < 0.0f) x = 10.0f;
  if (y < 0.0f) y = 10.0f;
  if (dx < 0.0f) dx = mnw.win_dx - 10.0f - x;
  if (dy < 0.0f) dy = mnw.win_dy - 28.0f - y - top_gap;
  BTN_frame2(style, x, y, dx, dy, title);
  if (next_x) *next_x = x + dx + 10.0f;
  if (next_y) *next_y = y + dy + 10.0f;
}

// ---- Push buttons and labels ------------------------------------------------

void BTN_util_draw_label(float x, float y, int mode, std::string_view text, int alt) {
  std::string_view lines[2];
  const int n = BTN_label_lines(text, mode, lines);
  if (n == 0) return;
  const int col = alt ? kColLabelPulse : kColLabel;
  if (mode == 1) {
    OGL_string(col, x, y, lines[0], 0.0f, kCharsetProportional, kJustCentre);
    return;
  }
  const int just = mode == 0 ? kJustRight : kJustLeft;
  if (n == 1) {
    OGL_string(col, x, y, lines[0], 0.0f, kCharsetProportional, just);
  } else {
    OGL_string(col, x, y + 5.0f, lines[0], 0.0f, kCharsetProportional, just);
    OGL_string(col, x, y - 5.0f, lines[1], 0.0f, kCharsetProportional, just);
  }
}

int BTN_action(float x, float y, float width, int pressed, int flash, std::string_view label,
               std::string_view side_text) {
  const std::string_view left = split_label(label).left;
  width = BTN_action_width(width, label);

  auto draw = [&](int pressed_look) {
    BTN_frame1(2, x, y, width, 0);
    if (pressed_look) BTN_frame1(3, x, y, width, 0);
    BTN_util_draw_label(x, y - 3.0f, 1, left, flash == 2 && pressed);
  };
  draw(pressed);
  if (side_text != "-") {
    OGL_string(kColSideText, x + width * 0.5f + 10.0f, y + 7.0f, side_text, 500.0f, kCharsetProportional,
               kJustLeft);
  }
  if (menu_open() || !mnw.mouse_clicked || !BTN_action_hit(x, y, width, mnw.mx, mnw.my)) return 0;
  if (!pressed && flash) {
    // Show the press now: the caller may change screens in this pass.
    draw(1);
    OGL_sbuff();
  }
  return 1;
}

// ---- Check boxes, radios and close boxes -----------------------------------

int BTN_bool(float x, float y, int* value, std::string_view label, int radio) {
  const auto [left, right, help] = split_label(label);
  const icon_cell& box = radio ? kIconRadioRing : kIconCheckBox;
  const icon_cell& mark = radio ? kIconRadioDot : kIconTick;
  draw_icon(x, y + 3.0f, box);
  if (value && *value) draw_icon(x, y + 3.0f, mark);
  BTN_util_draw_label(x - 12.0f, y, 0, left, 0);
  BTN_util_draw_label(x + 12.0f, y, 2, right, 0);
  if (menu_open() || !BTN_bool_hit(x, y, mnw.mx, mnw.my)) return 0;
  stls.help_message = help;
  if (!mnw.mouse_clicked) return 0;
  if (value) *value = !*value;
  return 1;
}

int BTN_is_int(float x, float y, int* var, int value, std::string_view label) {
  int flag = var && *var == value;
  const int hit = BTN_bool(x, y, &flag, label, 1);
  if (flag && var) *var = value;
  return hit;
}

int BTN_zap_boxes(int pressed) {
  const icon_cell& box = pressed ? kIconCloseBoxPressed : kIconCloseBox;
  const float y = mnw.win_dy - 10.0f;
  draw_icon(16.0f, y, box);
  draw_icon(mnw.win_dx - 16.0f, y, box);
  return mnw.mouse_clicked && BTN_zap_hit(mnw.win_dx, mnw.win_dy, mnw.mx, mnw.my) != 0;
}

// ---- Focus ring -------------------------------------------------------------

void BTN_begin_focus_ring() {
  focus_ring.clear();
}

void BTN_add_to_focus_ring(const focus_info_t& info) {
  focus_ring.push_back(info);
}

void BTN_unfocus_any() {
  focus_id = 0;
}

namespace {

constexpr int kVkBack = 8, kVkTab = 9, kVkReturn = 13, kVkEscape = 27, kVkDelete = 46;
constexpr int kFlagShift = 1, kFlagKeyUp = 16;

int key_class(int ch, int vkey) {
  if (vkey == kVkBack || vkey == kVkDelete) return kAllowDelete;
  if (vkey == kVkTab) return kAllowTab;
  if (vkey == kVkReturn) return kAllowReturn;
  if (vkey == kVkEscape) return kAllowEscape;
  if (vkey >= 33 && vkey <= 40) return kAllowNav;
  if (ch == '+' || ch == '-') return kAllowPlusMinus;
  if (ch >= '0' && ch <= '9') return kAllowDigits;
  if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) return kAllowLetters;
  if (ch >= 32 && ch <= 126) return kAllowPrintable;
  return kAllowOther;
}

}  // namespace

int BTN_dispatch_to_focus(int ch, int vkey, int flags) {
  if (mnw.top_win_now == kWinAlert) return 0;
  const bool tab_down = vkey == kVkTab && !(flags & kFlagKeyUp);
  auto focus_first = [&]() {
    if (!tab_down || focus_ring.empty()) return 0;
    focus_id = focus_ring.front().who_am_i;
    return 1;
  };
  if (focus_id == 0) return focus_first();

  std::size_t idx = focus_ring.size();
  for (std::size_t i = 0; i < focus_ring.size(); ++i) {
    if (focus_ring[i].who_am_i == focus_id) {
      idx = i;
      break;
    }
  }
  if (idx == focus_ring.size()) {
    focus_id = 0;
    return focus_first();
  }
  const focus_info_t& e = focus_ring[idx];
  if (tab_down && !(e.allow_keys & kAllowTab)) {
    const std::size_t n = focus_ring.size();
    const std::size_t next = (flags & kFlagShift) ? (idx + n - 1) % n : (idx + 1) % n;
    focus_id = focus_ring[next].who_am_i;
    return 1;
  }
  if (!(e.allow_keys & key_class(ch, vkey))) return 0;
  if (!e.ctr_slot || !e.char_slot || !e.vkey_slot || !e.flag_slot || !e.id_slot) return 0;
  const int at = *e.ctr_slot;
  // The widget's arrays are bounded; a key past their end is dropped.
  if (at < 0 || at >= e.slot_cap) return 1;
  e.char_slot[at] = ch;
  e.vkey_slot[at] = vkey;
  e.flag_slot[at] = flags;
  e.id_slot[at] = focus_id;
  *e.ctr_slot = at + 1;
  return 1;
}
