#pragma once
// The three built-in pictures.
#include <string>
#include <vector>

#include "canvas.h"
#include "text.h"

struct fonts {
  const font_face& regular;
  const font_face& bold;
};

// 512 x 512: the bitmap font, the palette pixels, bar strips, frame cells
// and the small icons; the font at `font_px` pixels per em. `notes` receives the font's adjustments.
canvas make_interface_image(const fonts& f, float font_px, std::vector<std::string>* notes);
// 1010 x 764: image buttons in three looks, the source picture, the turning
// globe, frame cell 20.
canvas make_atlas(const fonts& f);
// 1024 x 768: the main screen's backdrop.
canvas make_background(const fonts& f);

// Earth-like globe, turned by `turn` (0..1 of a revolution), on a `size` x
// `size` cell (64 in the atlas).
canvas globe(float turn, int size);
// The program's icon for the desktop, `size` x `size` (48, 128, 256): the
// atlas's globe on the deep-blue orbit tile of its source picture.
canvas make_icon(int size);
// The sizes of the desktop icon, written as icon-<size>.png.
inline constexpr int kIconSizes[] = {48, 128, 256};
