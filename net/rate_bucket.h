#pragma once
// The download rate limit: a token bucket over every download slot of the
// client manager. Tokens (bytes) are earned at the set rate as the frame
// clock advances and shared evenly among the slots that hold a download, so
// that no stream starves another; a slot reads at most its tokens in a pass
// and reads nothing when it has none (nothing ever waits). The tokens kept
// never exceed one bucket, so the bytes let through by time T stay within
// rate x T + one bucket.
#include <cstdint>

class rate_bucket {
 public:
  static constexpr int kSlots = 6;

  // Bytes per second; 0 (or less) lifts the limit. A new rate starts from an
  // empty bucket at the next refill.
  void set_rate(int64_t bytes_per_second);
  int64_t rate() const { return rate_; }
  // The most tokens kept over all slots: half a second of the rate, at least
  // 16 KiB (so that a slow rate still reads in useful pieces).
  int64_t capacity() const;

  // Earns the tokens of the time since the last refill (`now` in seconds, the
  // frame clock) and shares them among the slots marked busy; a free slot
  // keeps none. The first call, or a clock that went back, only takes the time.
  void refill(double now, const bool busy[kSlots]);
  // Bytes slot `o` may read now; -1 without a limit.
  int64_t allowance(int o) const;
  // Slot `o` read `n` bytes.
  void spend(int o, int64_t n);

 private:
  int64_t rate_ = 0;
  bool started_ = false;
  double last_ = 0.0;
  double tokens_[kSlots] = {};
};
