#pragma once
// The texts and numbers the main screen shows, as pure functions of the
// install state, so that every rounding rule can be checked without a window.
#include <string>

// Size in kilobytes as "1.5 Meg" / "2.0 Gig"; the unit is chosen before rounding.
void set_size_str(float kilobytes, std::string& out);
std::string size_str(float kilobytes);

// Install percentage with one decimal: 5.27 -> " 5.3", 9.96 -> "10.0", 42 -> "42.0".
std::string install_percent_str(float percent);

// Remaining-time text: "119 seconds", "2 minutes", "2 hours".
std::string time_left_str(float seconds);

// Integer text cut towards zero, as the screen writes whole numbers.
std::string trunc_str(float value);

// Manifest download line for a percent-done reading (-1 while connecting).
std::string manifest_download_text(float percent_done);

// Line one of the message box while installing, by crnt_file_stat.
std::string install_file_line(int crnt_file_stat, const std::string& file_name, float file_fraction);

// Halves away from zero, as the progress bar arithmetic rounds.
int round_half_away(float v);

struct bar_geometry {
  int centre_x;
  int width;
};
// Frame of the progress bar between base_x1 and base_x2.
bar_geometry progress_frame(float base_x1, float base_x2);
// Fill of the progress bar for an install fraction 0..1.
bar_geometry progress_fill(float base_x1, float base_x2, float fraction);
