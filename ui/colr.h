#pragma once
// The colour table. Callers never pass colours as numbers: every drawing
// primitive takes an index 0..104 into `colr` and resolves it here, so the
// interface colours (34..47, taken from the interface image at start-up), the
// manual tint and the pulsing colours apply everywhere at once.
#include <cstdint>

// Renderer-wide factors that every colour passes through.
struct ren_class {
  float current_alpha = 1.0f;  // global alpha factor multiplied into every alpha
  int night_vision = 0;        // 1 draws everything in shades of green (never in the installer)
};
extern ren_class ren;

constexpr int kColrCount = 105;

struct colr_class {
  double file_gamma;                                        // gamma the images were made for
  double screen_gamma;                                      // gamma of the screen
  int has_gamma;                                            // 1 when the two differ
  std::uint8_t win_gamma[256];                              // gamma lookup applied when loading images
  float col_rgb[kColrCount][3];                             // red, green, blue in 0..1
  float r_manual_liting, g_manual_liting, b_manual_liting;  // tint of colours 0..45
  float pulse_alpha;                                        // current pulse value p
  float spectrum_min, spectrum_max, spectrum_del;           // colour ramp (unused by the installer)
  float spectrum_rgb[1000][3];

  // Zeroes everything, then the gammas (1.8 / 2.4), the tint (1, 1, 1), the
  // default entries and the gamma lookup.
  colr_class();

  // The colour `col` at `alpha` after tint, global alpha and night vision:
  // rgba[3] is the effective alpha. Returns true when the colour is to be
  // sent opaque (effective alpha above 0.99).
  bool resolve(int col, float alpha, float rgba[4]) const;

  // Makes colour `col` current in GL (resolved as above).
  void set_index(int col, float alpha);

  // Overwrites entry `col` (ignored outside 0..104).
  void assign(int col, float r, float g, float b);

  // Interface colours 34..47 from the interface image: `rgba` is
  // width x height pixels of 4 bytes (red, green, blue, alpha), rows in
  // stored order; each colour is one pixel, bytes divided by 255; 39 is the
  // average of 35 and 38. Pixels outside the image leave the entry alone.
  void take_interface_colors(const std::uint8_t* rgba, int width, int height);

  // Pulsing colours 79..84 and `pulse_alpha` for the time `t` in seconds
  // since start: p = 0.7 + 0.3 sin(20 t). Called once per pass.
  void update_pulse(float t);
};
extern colr_class colr;

// The pixel (column, row) of the interface image that colour `col` (34..47,
// not 39) is read from; false for other indices.
bool colr_interface_pixel(int col, int* column, int* row);
