#pragma once
// The three built-in pictures of the installer. They are compiled into the
// program as PNG files (assets/) and decoded once, on first use, into the raw
// RGBA arrays the texture table takes; the program reads no picture files.
//
// Row order: row 0 of `rgba` is the first stored row, which OpenGL takes as
// texture coordinate t = 0, the bottom of the picture as drawn (screen y
// grows upwards). All texel positions of the interface (glyph cells, bar
// strips, frame cells, palette pixels, atlas rectangles) count rows this way.
// The PNG files are kept upright for viewing, so decoding flips them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct builtin_picture {
  int tex_num = 0;                 // texture number (392, 393 or 394)
  int width = 0;                   // pixels
  int height = 0;                  // pixels
  std::vector<std::uint8_t> rgba;  // width * height * 4 bytes: red, green, blue, alpha
};

// Sizes of the three pictures, which the drawing code's texel positions assume.
constexpr int kInterfaceImageW = 512, kInterfaceImageH = 512;  // texture 392
constexpr int kInstAtlasW = 1010, kInstAtlasH = 764;           // texture 393
constexpr int kBackgroundW = 1024, kBackgroundH = 768;         // texture 394

// The built-in picture with texture number `tex_num` (392, 393, 394), decoded
// on the first call (thread-safe) and kept until the program ends; nullptr
// for any other number. A picture that fails to decode is a build fault: the
// program ends with a message naming it.
const builtin_picture* builtin_picture_get(int tex_num);

// The embedded PNG bytes of a built-in picture (for tests); size 0 and
// nullptr for other numbers.
const std::uint8_t* builtin_picture_png(int tex_num, std::size_t* size);

// Decodes a PNG held in memory into 8-bit RGBA with row 0 = the bottom row of
// the picture (the last row of the file). Palette, grey and 16-bit files are
// converted. Returns false and sets `error` on a malformed file.
bool decode_png_bottom_up(const std::uint8_t* data, std::size_t size, builtin_picture* out,
                          std::string* error);
