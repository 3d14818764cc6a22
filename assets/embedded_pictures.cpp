// Places the PNG files of this folder in the program's read-only data, so the
// program carries its pictures and reads no picture files at run time.
// SKYVANE_ASSET_DIR is set by assets/CMakeLists.txt, which also makes this
// file recompile whenever a picture changes. Decoded by ui/texes.cpp.

#define SKYVANE_EMBED(symbol, file)           \
  asm(".section .rodata\n"                    \
      ".global " #symbol                      \
      "\n"                                    \
      ".type " #symbol                        \
      ", @object\n"                           \
      ".balign 16\n" #symbol                  \
      ":\n"                                   \
      ".incbin \"" SKYVANE_ASSET_DIR "/" file \
      "\"\n"                                  \
      ".global " #symbol "_end\n" #symbol     \
      "_end:\n"                               \
      ".byte 0\n"                             \
      ".previous\n")

SKYVANE_EMBED(skyvane_png_interface, "interface.png");
SKYVANE_EMBED(skyvane_png_atlas, "atlas.png");
SKYVANE_EMBED(skyvane_png_background, "background.png");
