#pragma once
// Immediate-mode widgets drawn from cells of the interface image (texture
// 392): stretchable bars, nine-slice frames and panels with a title, window
// backgrounds, push buttons, check boxes, radio buttons, the close boxes of
// sub-windows, and the keyboard-focus ring.
//
// There are no widget objects: the caller calls a widget function on every
// pass with its position and label; the function draws the widget and
// returns 1 when it was pressed in this pass (the pass in which
// `mouse_clicked` of `mnw` is set). State that outlives a pass lives in the
// caller's variables, passed by pointer. Coordinates are those of the
// current sub-window (see ui/oglp.h).
//
// Every widget is a hit test (a small pure function, below) plus drawing.
#include <string>
#include <string_view>
#include <vector>

// ---- Geometry (pure) --------------------------------------------------------

// One textured piece of a bar or frame: screen rectangle (window
// coordinates) and normalised texture coordinates of its corners.
struct btn_quad {
  float x1, y1, x2, y2;  // left, bottom, right, top
  float s1, t1, s2, t2;  // texture at (x1, y1) and (x2, y2)
};

// The pieces of bar `style` centred at (x, y), `width` wide. False for a
// style without a bar (then `out` is left empty).
bool BTN_frame1_quads(int style, float x, float y, float width, std::vector<btn_quad>* out);
// The pieces of frame `style` around the rectangle (x, y, dx, dy) and the
// texture they come from. False for a style without a frame.
bool BTN_frame2_quads(int style, float x, float y, float dx, float dy, std::vector<btn_quad>* out, int* tex);

// Width of a push button: `width`, or the label's text width + 21 when
// `width` <= 0 (the whole label, before splitting).
float BTN_action_width(float width, std::string_view label);
// Push-button hit: (mx, my) within x +- width/2 and y +- 10, bounds inclusive.
bool BTN_action_hit(float x, float y, float width, float mx, float my);
// Check-box / radio hit: within x +- 8 and y - 4 .. y + 12, bounds inclusive.
bool BTN_bool_hit(float x, float y, float mx, float my);
// Close boxes of a win_dx x win_dy sub-window: 1 left, 2 right, 0 none (the
// mouse within 9 px of a box centre in both directions).
int BTN_zap_hit(float win_dx, float win_dy, float mx, float my);

// The lines a label is drawn in by BTN_util_draw_label in `mode` (0 and 2
// may split, 1 never): returns 0, 1 or 2 and puts the lines (views into
// `text`) into `lines`.
int BTN_label_lines(std::string_view text, int mode, std::string_view lines[2]);

// ---- Widgets ----------------------------------------------------------------

// Horizontal bar of `style` (0..5, 7..10) centred at (x, y), tinted with
// colour `col`. Any other style is a fatal error "Bad BTN_frame1 call!".
void BTN_frame1(int style, float x, float y, float width, int col);
// Frame of `style` (11..20) around (x, y, dx, dy) with an optional title.
// Any other style is a fatal error "Bad BTN_frame2 call!".
void BTN_frame2(int style, float x, float y, float dx, float dy, std::string_view title);
// Background of the current sub-window: frame 11 (titled) or 12 with the
// window's title, then body 1 (title strip), 21 (nothing) or a frame of
// style `body` inset 10 px.
void BTN_fillwin(int titled, int body);
// Panel of frame `style` inside the current sub-window; negative
// coordinates take defaults. The next free position goes to next_x, next_y
// (each may be null).
void BTN_subwin(float top_gap, int style, float x, float y, float dx, float dy, std::string_view title,
                float* next_x, float* next_y);
// Push button; 1 in the pass it is clicked. `width` <= 0 sizes it to the
// label. `pressed` draws the pressed look; `flash` non-zero shows the
// pressed look at once (buffers swapped) when clicked; `flash` 2 with
// `pressed` pulses the label. `side_text` other than "-" is drawn right of
// the button.
int BTN_action(float x, float y, float width, int pressed, int flash, std::string_view label,
               std::string_view side_text);
// Check box (radio 0) or radio look (radio 1); toggles *value and returns 1
// when clicked.
int BTN_bool(float x, float y, int* value, std::string_view label, int radio);
// Radio button that sets *var to `value` when clicked; a click on the
// selected one keeps it selected (and still returns 1).
int BTN_is_int(float x, float y, int* var, int value, std::string_view label);
// The two close boxes of the current sub-window; 1 when this pass's click
// hit one.
int BTN_zap_boxes(int pressed);
// Button label layout: mode 1 one line centred at (x, y); modes 0 (right
// aligned at x) and 2 (left aligned) split a long label in two lines. A
// leading '-' is dropped; `alt` draws it in the pulsing colour.
void BTN_util_draw_label(float x, float y, int mode, std::string_view text, int alt);
// Label syntax "left|right{?help": left before the last '|', right between
// it and the last '{', help from two bytes after the last '{'.
void BTN_expand_label(std::string_view label, std::string* left, std::string* right, std::string* help);

// ---- Keyboard focus ---------------------------------------------------------

// `allow_keys` bits.
constexpr int kAllowTab = 1, kAllowReturn = 2, kAllowDelete = 4, kAllowEscape = 8, kAllowNav = 16,
              kAllowLetters = 32, kAllowDigits = 64, kAllowPlusMinus = 128, kAllowPrintable = 256,
              kAllowOther = 512;

// One element of the focus ring. The widget owns the four key arrays (each
// `slot_cap` entries) and the counter; keys for it are queued there and
// consumed on its next draw.
struct focus_info_t {
  int who_am_i = 0;  // the widget's id (non-zero)
  int* char_slot = nullptr;
  int* vkey_slot = nullptr;
  int* flag_slot = nullptr;
  int* id_slot = nullptr;
  int* ctr_slot = nullptr;  // keys queued so far
  int depth = 0;
  int allow_keys = 0;
  int slot_cap = 0;  // capacity of each array; keys past it are dropped
};
extern std::vector<focus_info_t> focus_ring;
extern int focus_id;    // the focused element's id, 0 none
extern int wind_focus;  // window code the focus belongs to

// Empties the ring (the pump, once per pass, before the application draws).
void BTN_begin_focus_ring();
// Adds an element (a widget that wants keys, while it draws).
void BTN_add_to_focus_ring(const focus_info_t& info);
// Drops the focus (every window change and every mouse press).
void BTN_unfocus_any();
// Offers a key (character, key code, key flags: 1 Shift, 2 Alt, 4 Control,
// 8 first key-down, 16 key-up) to the focused element. 1 = used up.
int BTN_dispatch_to_focus(int ch, int vkey, int flags);
