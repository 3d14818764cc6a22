// The program's entry point: the installer's start-up, its pump loop and its
// shut-down live in installer_main.
#include "installer/main.h"

int main(int argc, char** argv) {
  return installer_main(argc, argv);
}
