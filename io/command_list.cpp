#include "io/command_list.h"

namespace {
command_lister_fn g_lister = nullptr;
}  // namespace

void opensave_set_command_lister(command_lister_fn fn) {
  g_lister = fn;
}

void opensave_list_commands(const std::string& path, std::vector<std::string>& out) {
  out.clear();
  if (g_lister) g_lister(path, out);
}
