// The disc installer's build-time modes (skyvane-installer-dvd): the manifest
// and the files come from the install disc found at start-up, on one stream,
// and the archives on the disc are never deleted. Linked into that program
// only; it defines the same names as source_net.cpp, which the linker then
// leaves in the core library.
#include "installer/model.h"

const int install_type = 1;
const int is_net = 0;
const char* const program_name = "skyvane-installer-dvd";
