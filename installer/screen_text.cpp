#include "installer/screen_text.h"

#include <cmath>
#include <cstdint>

int round_half_away(float v) {
  return static_cast<int>(std::lround(v));
}

void set_size_str(float kilobytes, std::string& out) {
  float value = kilobytes * 0.001f;
  const char* unit = " Meg";
  if (!(value < 1000.0f)) {
    unit = " Gig";
    value *= 0.001f;
  }
  // Whole tenths, rounded half away from zero; the sign is written apart so
  // that -0.04 does not come out as "-0.0" nor -1.5 as "-0.5".
  const long long tenths = std::llround(static_cast<double>(value) * 10.0);
  const long long mag = tenths < 0 ? -tenths : tenths;
  out = (tenths < 0 ? "-" : "") + std::to_string(mag / 10) + "." + std::to_string(mag % 10) + unit;
}

std::string size_str(float kilobytes) {
  std::string s;
  set_size_str(kilobytes, s);
  return s;
}

std::string install_percent_str(float percent) {
  long long tenths = std::llround(static_cast<double>(percent) * 10.0);
  if (tenths < 0) tenths = 0;
  const long long whole = tenths / 10;
  std::string w = std::to_string(whole);
  if (w.size() < 2) w = " " + w;  // zero-padded to two digits, the pad shown as a blank
  return w + "." + std::to_string(tenths % 10);
}

std::string trunc_str(float value) {
  return std::to_string(static_cast<long long>(value));
}

std::string time_left_str(float seconds) {
  if (seconds < 120.0f) return trunc_str(seconds) + " seconds";
  if (seconds < 7200.0f) return trunc_str(seconds / 60.0f) + " minutes";
  return trunc_str(seconds / 3600.0f) + " hours";
}

std::string manifest_download_text(float percent_done) {
  const std::string pct = trunc_str(percent_done);
  if (pct == "-1")
    return "I am checking the net for the latest version of Skyvane right now, and I am connecting to the "
           "server...";
  return "I am checking the net for the latest version of Skyvane right now, and I am " + pct +
         "% done checking.";
}

std::string install_file_line(int crnt_file_stat, const std::string& n, float file_fraction) {
  switch (crnt_file_stat) {
    case 0:
      return "Deleting " + n + " because that file is no longer needed!";
    case 1:
      return "Downloading and installing " + n + ", currently " + trunc_str(file_fraction * 100.0f) +
             "% done with that file.";
    case 2:
      return "duplicate filename through file " + n +
             ", but not installing it because you already have this file.";
    default:
      return "Browsing through file " + n + ", but not installing it because you don't need this file.";
  }
}

bar_geometry progress_frame(float base_x1, float base_x2) {
  return {2 * round_half_away((base_x1 + base_x2) / 4.0f), 4 * round_half_away((base_x2 - base_x1) / 4.0f)};
}

bar_geometry progress_fill(float base_x1, float base_x2, float fraction) {
  const float x1 = static_cast<float>(static_cast<int>(base_x1));
  const float x2 = static_cast<float>(static_cast<int>(fraction * (base_x2 - base_x1) + base_x1));
  return {2 * round_half_away((x1 + x2) / 4.0f), 4 * round_half_away((x2 - x1) / 4.0f)};
}
