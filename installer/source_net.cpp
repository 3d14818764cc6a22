// The internet installer's build-time modes: files come from the download
// servers, two streams at the start of an install. This file is part of the
// core library, where the linker takes it only for a program that brings no
// modes of its own (skyvane-installer, the tests and tools); the disc
// installer links source_dvd.cpp instead. Both files define the same names.
#include "installer/model.h"

const int install_type = 0;
const int is_net = 1;
const char* const program_name = "skyvane-installer";
