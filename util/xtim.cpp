#include "util/xtim.h"

#include <chrono>

xtim_class xtim;

namespace {
const auto g_start = std::chrono::steady_clock::now();
}

double monotonic_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

void xtim_class::advance_clock() {
  prev_real_time = real_time;
  real_time = static_cast<float>(monotonic_seconds());
}
