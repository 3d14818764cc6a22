#include "util/xtim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "util/log.h"

xtim_class xtim;

namespace {

const auto g_start = std::chrono::steady_clock::now();

std::function<uint64_t()> g_clock;  // test override of the counter
xtim_window_hooks g_hooks;          // filled in by the window layer

// State kept beside the timer.
struct timer_state {
  bool started = false;
  uint64_t first_reading = 0;
  float puff_last[9] = {};  // time each interval flag was last set
  // Pass-length estimates: main screen, other sized sub-windows.
  float est[2] = {0.02f, 0.02f};
  int passes[2] = {0, 0};
  float measured_at[2] = {0.0f, 0.0f};
  float prev_mouse[2] = {999.0f, 999.0f};
  uint64_t mark_us = 0;  // last profile mark
};
timer_state g;

constexpr float kPuffInterval[9] = {10.0f, 5.0f, 2.0f, 1.0f, 0.5f, 0.2f, 0.1f, 0.05f, 0.025f};
constexpr float kEstMin = 0.0010001f;
constexpr float kEstMax = 0.0526316f;

void read_time(xtim_class& t) {
  const uint64_t now = t.microsecs_tot();
  if (!g.started) {
    g.started = true;
    g.first_reading = now;
  }
  t.prev_real_time = t.real_time;
  t.real_time = static_cast<float>(static_cast<double>(now - g.first_reading) / 1000000.0);
}

// Which estimate applies now: 0 main screen, 1 a sized sub-window outside
// 993..999, -1 none (alert, file prompt).
int estimate_in_use() {
  return g_hooks.estimate_in_use ? g_hooks.estimate_in_use() : 0;
}

}  // namespace

double monotonic_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

void xtim_set_clock(std::function<uint64_t()> fn) {
  g_clock = std::move(fn);
  g = timer_state{};
  xtim = xtim_class{};
}

void xtim_set_window_hooks(const xtim_window_hooks& hooks) {
  g_hooks = hooks;
}

float xtim_estimate_main() {
  return g.est[0];
}
float xtim_estimate_sub() {
  return g.est[1];
}

uint64_t xtim_class::microsecs_tot() const {
  if (g_clock) return g_clock();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void xtim_class::advance_clock() {
  read_time(*this);
}

void xtim_class::xtim_update() {
  read_time(*this);

  // Smoothed pass length: measured every tenth pass of the estimate in use
  // and damped, so one slow pass cannot swing it.
  const int use = estimate_in_use();
  for (int i = 0; i < 2; ++i) {
    if (i != use) {
      g.measured_at[i] = real_time;  // restarts cleanly when it applies again
      continue;
    }
    if (g.passes[i] % 10 == 0) {
      const float ratio = std::clamp((real_time - g.measured_at[i]) * 0.1f / g.est[i], 0.5f, 1.5f);
      rt_rat = ratio;
      g.est[i] = std::clamp(g.est[i] * std::pow(ratio, 0.25f), kEstMin, kEstMax);
      g.measured_at[i] = real_time;
    }
    ++g.passes[i];
    prd_act = prd_sim = prd_time_advance = g.est[i];
  }

  int* flags[9] = {&act_puff01, &act_puff02, &act_puff05, &act_puff1, &act_puff2,
                   &act_puff5,  &act_puff10, &act_puff20, &act_puff40};
  for (int i = 0; i < 9; ++i) {
    *flags[i] = 0;
    if (std::fabs(real_time - g.puff_last[i]) > kPuffInterval[i]) {
      *flags[i] = 1;
      g.puff_last[i] = real_time;
    }
  }

  // Mouse gestures of the pass and the pulsing colours.
  if (g_hooks.after_time) g_hooks.after_time(real_time, g.prev_mouse);
}

void xtim_class::profile_chart(const std::string& name, int end_of_pass) {
  if (!g_hooks.tracking_cpu || !g_hooks.tracking_cpu()) return;
  const uint64_t now = microsecs_tot();
  const uint64_t since = g.mark_us ? now - g.mark_us : 0;
  g.mark_us = now;
  char line[160];
  std::snprintf(line, sizeof line, "%s: %.3f ms%s", name.c_str(), static_cast<double>(since) / 1000.0,
                end_of_pass ? "\n" : "  ");
  xer << line;
}
