#include "net/rate_bucket.h"

#include <algorithm>

void rate_bucket::set_rate(int64_t bytes_per_second) {
  const int64_t r = std::max<int64_t>(bytes_per_second, 0);
  if (r == rate_) return;
  rate_ = r;
  started_ = false;
  std::fill(tokens_, tokens_ + kSlots, 0.0);
}

int64_t rate_bucket::capacity() const {
  return std::max<int64_t>(rate_ / 2, 16384);
}

void rate_bucket::refill(double now, const bool busy[kSlots]) {
  if (rate_ <= 0) return;
  int n = 0;
  for (int o = 0; o < kSlots; ++o) {
    if (busy[o])
      ++n;
    else
      tokens_[o] = 0.0;
  }
  if (!started_ || now < last_) {
    started_ = true;
    last_ = now;
    return;
  }
  const double dt = now - last_;
  last_ = now;
  if (n == 0 || dt <= 0.0) return;
  const double share = static_cast<double>(rate_) * dt / n;
  const double cap = static_cast<double>(capacity()) / n;
  for (int o = 0; o < kSlots; ++o)
    if (busy[o]) tokens_[o] = std::min(tokens_[o] + share, cap);
}

int64_t rate_bucket::allowance(int o) const {
  if (rate_ <= 0) return -1;
  if (o < 0 || o >= kSlots) return 0;
  return static_cast<int64_t>(tokens_[o]);
}

void rate_bucket::spend(int o, int64_t n) {
  if (rate_ <= 0 || o < 0 || o >= kSlots || n <= 0) return;
  tokens_[o] = std::max(tokens_[o] - static_cast<double>(n), 0.0);
}
