#include "util/log.h"

std::ofstream xer;

namespace {
thread_local std::ostream* t_capture = nullptr;
}

std::ostream& xlog() {
  return t_capture ? *t_capture : xer;
}

log_capture::log_capture() : outer_(t_capture) {
  t_capture = &buf_;
}

log_capture::~log_capture() {
  t_capture = outer_;
}

bool log_open(const std::string& path) {
  if (xer.is_open()) xer.close();
  xer.clear();
  xer.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!xer.is_open()) xer.setstate(std::ios::failbit);
  return xer.is_open();
}

void log_close() {
  if (xer.is_open()) xer.close();
  xer.setstate(std::ios::failbit);
}
