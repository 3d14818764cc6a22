// The program's entry point.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::printf("Usage: skyvane-installer [OPTION...] [DESTINATION]\n");
  return 0;
}
