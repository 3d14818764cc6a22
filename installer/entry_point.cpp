// The program's entry point.
#include <cstdio>

#include "util/UTL_cmdline.h"

int main(int argc, char** argv) {
  // -h/--help and --version print and end the program inside init_args.
  cmdline.init_args(argc, argv);
  std::fputs(cmdline_usage_text().c_str(), stdout);
  return 0;
}
