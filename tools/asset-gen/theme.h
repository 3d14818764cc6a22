#pragma once
// The colours of the product's look, shared by the three pictures: a light,
// airy interface (white cards, dark navy text) over a sky backdrop, with a
// deep-blue accent for the main actions.
#include "canvas.h"

namespace theme {
// Text colours (the palette pixels of the interface image).
inline const rgba kBackFill = hex(0x1a2636);   // 34: behind modal windows
inline const rgba kTitleText = hex(0xf4f8fc);  // 40: window titles on the dark header
inline const rgba kInk = hex(0x1c3048);        // 43: alert text, button labels, panel titles
inline const rgba kFieldText = hex(0x1c3048);  // 45: the destination path
inline const rgba kBodyText = hex(0x34465a);   // 46: message and status text
inline const rgba kHelpText = hex(0xeef4fa);   // 47: hover help on the dark help box

// Surfaces.
inline const rgba kCard = hex(0xffffff);
inline const rgba kCardEdge = hex(0xc3cfdb);
inline const rgba kWindowBody = hex(0xf2f5f9);
inline const rgba kHeaderTop = hex(0x2c5480);
inline const rgba kHeaderBottom = hex(0x1d3b5e);
inline const rgba kDarkCard = hex(0x223346);
inline const rgba kDarkEdge = hex(0x3b5068);
inline const rgba kAccent = hex(0x2f80e0);
inline const rgba kAccentLight = hex(0x55a0f5);
inline const rgba kAccentDark = hex(0x1f62b8);
inline const rgba kShadow = hex(0x0b1622);
}  // namespace theme
