// skyvane-asset-gen: draws the installer's three built-in pictures.
//
//   skyvane-asset-gen [--out DIR] [--preview DIR] [--font TTF] [--bold TTF]
//
// --out writes interface.png (512 x 512), atlas.png (1010 x 764),
// background.png (1024 x 768) and the desktop icon, icon-48.png,
// icon-128.png and icon-256.png, into DIR (the repository's assets/ folder).
// --preview writes mock-ups of the screens built from them. The output
// depends only on the fonts: the same fonts give the same files.
#include <cstdio>
#include <string>

#include "font_image.h"
#include "pictures.h"
#include "preview.h"
#include "text.h"

int main(int argc, char** argv) {
  std::string out, preview;
  float font_px = font_style{}.px;
  std::string regular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  std::string bold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--out" && has_value) {
      out = argv[++i];
    } else if (a == "--preview" && has_value) {
      preview = argv[++i];
    } else if (a == "--font" && has_value) {
      regular = argv[++i];
    } else if (a == "--font-px" && has_value) {
      font_px = std::stof(argv[++i]);
    } else if (a == "--bold" && has_value) {
      bold = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--out DIR] [--preview DIR] [--font TTF] [--bold TTF]\n"
                   "  --out DIR      write interface.png, atlas.png, background.png, icon-*.png\n"
                   "  --preview DIR  write mock-ups of the screens\n",
                   argv[0]);
      return a == "-h" || a == "--help" ? 0 : 2;
    }
  }
  if (out.empty() && preview.empty()) out = ".";

  const font_face regular_face(regular), bold_face(bold);
  const fonts f{regular_face, bold_face};
  std::vector<std::string> notes;
  const canvas interface_image = make_interface_image(f, font_px, &notes);
  for (const auto& n : notes) std::printf("%s\n", n.c_str());
  const canvas atlas = make_atlas(f);
  const canvas background = make_background(f);

  bool ok = true;
  if (!out.empty()) {
    ok &= interface_image.write_png(out + "/interface.png");
    ok &= atlas.write_png(out + "/atlas.png");
    ok &= background.write_png(out + "/background.png");
    for (int size : kIconSizes)
      ok &= make_icon(size).write_png(out + "/icon-" + std::to_string(size) + ".png");
  }
  if (!preview.empty()) ok &= write_previews(preview, interface_image, atlas, background);
  return ok ? 0 : 1;
}
