#pragma once
// The program's log stream, Log.txt. Rewritten at every start; when the file
// cannot be opened the stream stays failed and every write is dropped.
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

extern std::ofstream xer;

// The log as the calling thread should write it: xer, or while a
// log_capture is active on this thread, that capture's buffer. Code that
// may run on a worker writes here, so its lines never interleave with the
// main thread's inside xer; the owner hands the captured text on.
std::ostream& xlog();

// Redirects this thread's xlog() into a buffer for the capture's lifetime.
class log_capture {
 public:
  log_capture();
  ~log_capture();
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;
  std::string text() const { return buf_.str(); }

 private:
  std::ostringstream buf_;
  std::ostream* outer_;
};

// Opens (replacing) the log file at `path`. Returns false when it cannot be
// created; the stream is then left in the failed state.
bool log_open(const std::string& path);
void log_close();
