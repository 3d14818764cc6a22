#include "util/report.h"

#include <cstdio>
#include <cstdlib>

#include "util/log.h"

namespace {
report_fn g_handler = nullptr;
}  // namespace

void report_set_handler(report_fn fn) {
  g_handler = fn;
}

void UTL_report(int return_win, const std::string& l1, const std::string& l2, const std::string& l3,
                const std::string& l4, int type, const char* file, int line) {
  if (g_handler) {
    g_handler(return_win, l1, l2, l3, l4, type, file, line);
    return;
  }
  // Nobody can show it: keep it where a developer looks, and never return
  // from a fatal report, since its caller cannot go on.
  const std::string text = l1 + "\n" + l2 + "\n" + l3 + "\n" + l4 + "\n(" + (file ? file : "") + " line " +
                           int_to_str(line) + ")\n";
  xer << text;
  xer.flush();
  std::fputs(text.c_str(), stderr);
  if (type == t_exit) {
    std::fflush(stderr);
    std::_Exit(3);
  }
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
