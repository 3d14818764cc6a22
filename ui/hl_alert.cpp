#include "ui/hl_alert.h"

#include <cstdio>
#include <cstdlib>
#include <utility>


int in_alert = 0;
int ogl_inited = 0;

namespace {
std::function<void(const alert_record&)> g_observer;
std::function<void(int)> g_exit_hook;
drawn_alert_fn g_drawn = nullptr;
void (*g_shutdown)() = nullptr;

[[noreturn]] void end_process(int code) {
  if (g_exit_hook) g_exit_hook(code);  // a test hook throws here
  std::_Exit(code);
}
}  // namespace

void alert_set_observer(std::function<void(const alert_record&)> fn) { g_observer = std::move(fn); }
void alert_set_exit_hook(std::function<void(int)> fn) { g_exit_hook = std::move(fn); }
void alert_set_drawn_handler(drawn_alert_fn fn) { g_drawn = fn; }
void alert_set_shutdown(void (*fn)()) { g_shutdown = fn; }

std::string alert_location(const char* file, int line) {
  return "(" + std::string(file ? file : "") + " line " + int_to_str(line) + ")";
}

void int_to_str(int value, char* buf, int min_digits, int plus) {
  char* p = buf;
  long long v = value;
  if (v < 0) {
    *p++ = '-';
    v = -v;
  } else if (plus) {
    *p++ = '+';
  }
  if (min_digits > 10) min_digits = 10;
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  while (n < min_digits) digits[n++] = '0';
  while (n > 0) *p++ = digits[--n];
  *p = '\0';
}

std::string int_to_str(int value, int min_digits, int plus) {
  char buf[16];
  int_to_str(value, buf, min_digits, plus);
  return buf;
}
