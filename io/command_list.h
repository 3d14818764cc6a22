#pragma once
// The command registry seen as folders, for the listing filter 21 of
// opensave_getitems. The registry belongs to the UI framework above this
// layer, which fills in the lister at start-up (MACIBM_wire_lower_layers).
#include <string>
#include <vector>

// Puts the registry's names below `path` into `out` (a sub-path ends in '/').
using command_lister_fn = void (*)(const std::string& path, std::vector<std::string>& out);

// Installs the lister; nullptr: the registry is empty.
void opensave_set_command_lister(command_lister_fn fn);

// Lists through the installed lister; `out` is cleared first.
void opensave_list_commands(const std::string& path, std::vector<std::string>& out);
