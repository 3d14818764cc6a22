#include "ui/texes.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

// The PNG files of assets/, placed in the program's read-only data by
// assets/embedded_pictures.cpp. Each `_end` symbol follows the last byte.
extern "C" {
extern const std::uint8_t skyvane_png_interface[], skyvane_png_interface_end[];
extern const std::uint8_t skyvane_png_atlas[], skyvane_png_atlas_end[];
extern const std::uint8_t skyvane_png_background[], skyvane_png_background_end[];
}

namespace {

struct embedded {
  int tex_num, width, height;
  const std::uint8_t* begin;
  const std::uint8_t* end;
  const char* name;
};

const embedded kEmbedded[] = {
    {392, kInterfaceImageW, kInterfaceImageH, skyvane_png_interface, skyvane_png_interface_end,
     "interface.png"},
    {393, kInstAtlasW, kInstAtlasH, skyvane_png_atlas, skyvane_png_atlas_end, "atlas.png"},
    {394, kBackgroundW, kBackgroundH, skyvane_png_background, skyvane_png_background_end, "background.png"},
};

const embedded* find(int tex_num) {
  for (const auto& e : kEmbedded)
    if (e.tex_num == tex_num) return &e;
  return nullptr;
}

builtin_picture g_pictures[3];
std::once_flag g_decoded;

// Decodes all three at once: they are needed together at start-up.
void decode_all() {
  for (int i = 0; i < 3; ++i) {
    const embedded& e = kEmbedded[i];
    std::string error;
    builtin_picture& p = g_pictures[i];
    if (!decode_png_bottom_up(e.begin, static_cast<std::size_t>(e.end - e.begin), &p, &error) ||
        p.width != e.width || p.height != e.height) {
      // The pictures are part of the program; a bad one means a broken build.
      std::fprintf(stderr, "built-in picture %s is unusable (%s, %dx%d, expected %dx%d)\n", e.name,
                   error.c_str(), p.width, p.height, e.width, e.height);
      std::abort();
    }
    p.tex_num = e.tex_num;
  }
}

}  // namespace

const std::uint8_t* builtin_picture_png(int tex_num, std::size_t* size) {
  const embedded* e = find(tex_num);
  *size = e ? static_cast<std::size_t>(e->end - e->begin) : 0;
  return e ? e->begin : nullptr;
}

const builtin_picture* builtin_picture_get(int tex_num) {
  const embedded* e = find(tex_num);
  if (!e) return nullptr;
  std::call_once(g_decoded, decode_all);
  return &g_pictures[e - kEmbedded];
}

bool decode_png_bottom_up(const std::uint8_t* data, std::size_t size, builtin_picture* out,
                          std::string* error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) {
    *error = image.message;
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
  // A negative stride makes libpng fill the buffer from its last row upwards,
  // which gives the bottom-up order the texture table wants.
  const auto stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), stride, nullptr)) {
    *error = image.message;
    png_image_free(&image);
    return false;
  }
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->rgba = std::move(rgba);
  png_image_free(&image);
  return true;
}
