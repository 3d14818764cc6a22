#pragma once
// A software stand-in for the program's 2-D drawing, used to preview the
// pictures the way the screens cut them: bars, nine-slice frames, image
// buttons and bitmap text follow the drawing code's rules (1:1 texels,
// nearest sampling, text placed from the advance table). Screen coordinates
// are pixels with y up, relative to the current sub-window.
#include <string>

#include "canvas.h"

class mock_screen {
 public:
  mock_screen(const canvas& interface_image, const canvas& atlas, const canvas& background);

  canvas& pixels() { return screen_; }
  // Lays out a sub-window of the given size centred on the 1024 x 768 screen
  // (0 x 0 = the whole screen).
  void window(float dx, float dy);
  float win_dx() const { return win_dx_; }
  float win_dy() const { return win_dy_; }

  rgba colour(int col) const;
  void back_fill();   // colour 34 over the whole screen
  void background();  // the background picture
  void fillrect(int col, float x, float y, float dx, float dy);
  // A textured quad: texels (s0, t0)-(s1, t1) of `tex` onto (x0, y0)-(x1, y1).
  void quad(const canvas& tex, float s0, float t0, float s1, float t1, float x0, float y0, float x1, float y1,
            const rgba& tint);
  void str_one_line(int col, float x, float y, const std::string& text, int just);
  float string(int col, float x, float y, const std::string& text, float max_width, int just);
  void frame1(int style, float x, float y, float width);
  void frame2(int style, float x, float y, float dx, float dy, const std::string& title);
  void fillwin(const std::string& title);
  void action(float x, float y, float width, bool pressed, const std::string& label);
  void radio(float x, float y, bool on, const std::string& label);
  void check(float x, float y, bool on, const std::string& label);
  void zap_boxes(bool pressed);
  // An atlas rectangle; look 0 normal, 1 mouse over, 2 pressed; tint code as the program's.
  void interface_rect(float x, float y, float s, float t, float ds, float dt, int look, int col_code);

 private:
  void icon(int cx, int cy, float x, float y);
  const canvas& iface_;
  const canvas& atlas_;
  const canvas& bg_;
  canvas screen_;
  float win_x_ = 0, win_y_ = 0, win_dx_ = 1024, win_dy_ = 768;
};
