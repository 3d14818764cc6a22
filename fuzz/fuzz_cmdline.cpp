// Fuzzes the command-line parser both ways the program may take its command
// line: as one text (init_win) and as this platform's argument list
// (cmdline_split_args, with the input split at NUL bytes into arguments).
// Printing options (help, version, command list) end "the program" through a
// hook that unwinds instead. Checks: every stored name is non-empty and holds
// no white space; a destination is absolute and ends in '/'.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "util/UTL_cmdline.h"

namespace {
bool has_space(const std::string& s) {
  return s.find_first_of(" \t\n\v\f\r") != std::string::npos;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    fuzzsupport::init();
    // The usage text of -h would flood the fuzzer's output.
    return std::freopen("/dev/null", "w", stdout) != nullptr;
  }();
  (void)quiet;
  const std::string text(reinterpret_cast<const char*>(data), size);

  cmdline.clear();
  try {
    cmdline.init_win(text);
  } catch (const fuzzsupport::fatal_alert&) {
  }
  for (const auto& [name, value] : cmdline.options) {
    if (name.empty() || has_space(name) || name.find('=') != std::string::npos)
      fuzzsupport::fail("bad option name stored: [" + name + "]");
    if (has_space(value)) fuzzsupport::fail("white space in a one-text value");
    if (!cmdline.has_option(name) || cmdline.get_option(name) != value)
      fuzzsupport::fail("look-up disagrees");
  }

  std::vector<std::string> args;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      args.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  const cmdline_split split = cmdline_split_args(args, "/work/here/");
  if (split.error.empty()) {
    const std::string& d = split.destination;
    if (!d.empty() && (d.front() != '/' || d.back() != '/'))
      fuzzsupport::fail("destination not absolute: " + d);
    if (d.find("/../") != std::string::npos || d.find("/./") != std::string::npos)
      fuzzsupport::fail("destination keeps . or ..: " + d);
    for (const auto& [name, value] : split.options) {
      if (name.empty() || name.front() != '-') fuzzsupport::fail("option without a dash: " + name);
    }
  }
  cmdline_valid_host_port(text);
  fuzzsupport::take_alert_count();
  return 0;
}
