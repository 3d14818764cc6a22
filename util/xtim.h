#pragma once
// The frame clock. `real_time` is the program's running time in seconds,
// advanced once per pump pass; everything that measures progress, speed or
// time-outs reads it, so one pass sees one time.
struct xtim_class {
  float real_time = 0.0f;     // seconds since start, as of the current pass
  float prev_real_time = 0.0f;
  // Advances real_time from the monotonic clock. Called once per pass by the
  // pump (and by loops that poll without a window, such as tests and tools).
  void advance_clock();
};

extern xtim_class xtim;

// Seconds on the monotonic clock since the program started (not per pass).
double monotonic_seconds();
