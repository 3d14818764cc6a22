#pragma once
// Helpers shared by the network tests: polling the way the installer polls,
// and a private log file to read back what the network code wrote.
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "net/http.h"
#include "support/test_support.h"
#include "util/log.h"
#include "util/xtim.h"

namespace nettest {

// Repeats `step` (one pass: advance the clock, then poll) until it returns
// true. The bound only keeps a broken build from hanging the suite; nothing
// here measures time.
inline bool poll_until(const std::function<bool()>& step, int max_passes = 200000) {
  for (int i = 0; i < max_passes; ++i) {
    xtim.advance_clock();
    if (step()) return true;
    if (i > 1000) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return false;
}

// net_check on slot `o` once per pass until it reports 1 or 2; -1 if it never does.
inline int fetch(int o, const std::string& server, const std::string& file, const std::string& dest) {
  int r = 0;
  if (!poll_until([&] { return (r = http.net_check(o, server, file, dest)) != 0; })) return -1;
  return r;
}

// A log file of the test's own; text() reads back what was written so far.
class LogCapture {
 public:
  LogCapture() : path_(dir_ / "Log.txt") { log_open(path_); }
  ~LogCapture() { log_close(); }
  std::string text() {
    xer.flush();
    return testsupport::read_file(path_);
  }

 private:
  testsupport::TempDir dir_;
  std::string path_;
};

}  // namespace nettest
