#pragma once
// The frame clock. `real_time` is the program's running time in seconds,
// advanced once per pump pass; everything that measures progress, speed or
// time-outs reads it, so one pass sees one time.
//
// Once per pass the pump calls xtim_update: the time, a smoothed estimate of
// the pass length, interval flags for work that should run at most every so
// often, then, through the window hooks, the mouse gestures of the pass
// (fields of `mnw`) and the pulsing colours. The clock sits below the window
// layer (util/ includes only platform/), so what it needs from the window
// comes through xtim_set_window_hooks.
#include <cstdint>
#include <functional>
#include <string>

struct xtim_class {
  int first_miss_cycle = 0;  // cleared by the pump after each APP_update
  float prd_act = 0.02f;     // smoothed pass length, seconds (the three agree)
  float prd_sim = 0.02f;
  float prd_time_advance = 0.02f;
  float rt_rat = 1.0f;     // last correction ratio of the estimate
  int total_frames = 0;    // passes swapped so far
  float real_time = 0.0f;  // seconds since the first reading, as of this pass
  // Interval flags: set on a pass at most every 10, 5, 2, 1, 0.5, 0.2, 0.1,
  // 0.05, 0.025 s.
  int act_puff01 = 0, act_puff02 = 0, act_puff05 = 0, act_puff1 = 0, act_puff2 = 0, act_puff5 = 0,
      act_puff10 = 0, act_puff20 = 0, act_puff40 = 0;
  float prev_real_time = 0.0f;  // real_time of the previous advance

  // One step per pass, after the pass's input and before the drawing.
  void xtim_update();
  // Only the time (for loops that poll without a window: tests, tools).
  void advance_clock();
  // The high-resolution counter in microseconds.
  uint64_t microsecs_tot() const;
  // A named timing mark; writes elapsed times to the log only while
  // `track_cpu` of `mnw` is set (the window hook says so). `end_of_pass` non-zero closes the pass's
  // report.
  void profile_chart(const std::string& name, int end_of_pass);
};

extern xtim_class xtim;

// Seconds on the monotonic clock since the program started (not per pass).
double monotonic_seconds();

// Replaces the microsecond counter (tests drive the clock by hand); an
// empty function restores the monotonic clock. Also restarts the timer: the
// next reading becomes time 0, and the estimates, flags and gesture state go
// back to their start values.
void xtim_set_clock(std::function<uint64_t()> fn);

// What the clock takes from the window layer, filled in at start-up
// (MACIBM_wire_lower_layers). Without hooks the main-screen estimate applies,
// no gestures are made and no timing marks are written.
struct xtim_window_hooks {
  // Which pass-length estimate applies now: 0 the main screen, 1 a sized
  // sub-window outside 993..999, -1 none (alert, file prompt).
  int (*estimate_in_use)() = nullptr;
  // The pass's work after the time step: gestures and pulsing colours.
  // `prev_mouse` is the mouse position of the previous pass, kept by the
  // clock (999, 999 after a restart), to be updated by the hook.
  void (*after_time)(float real_time, float prev_mouse[2]) = nullptr;
  // True while timing marks should be logged.
  bool (*tracking_cpu)() = nullptr;
};
void xtim_set_window_hooks(const xtim_window_hooks& hooks);

// The main-screen and sub-window pass-length estimates (seconds).
float xtim_estimate_main();
float xtim_estimate_sub();
