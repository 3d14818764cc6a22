#include <cmath>
#include <string>

#include "noise.h"
#include "paint.h"
#include "pictures.h"
#include "theme.h"
#include "ui/screen_rects.h"

namespace {

using namespace theme;

struct button_colours {
  rgba top, bottom, edge;
};

enum class glyph_icon { none, folder, download, check, cross };

struct button_look {
  const char* label;
  bool primary;
  glyph_icon icon;
  bool square_right;  // joins the destination field
  bool untinted;      // stored so that the enabled tint gives its colours back
};

// Colours as they appear on screen. The program draws every enabled image
// button tinted (0.8, 1, 0.8); `untint` stores them so that the tint gives
// these colours back (blue kept at or below 0.8 so it survives the tint).
button_colours colours_for(bool primary, int look) {
  if (primary) {
    if (look == 1) return {hex(0x4d96cc), hex(0x2c72c0), hex(0x1f5ca6)};
    if (look == 2) return {hex(0x1a549c), hex(0x2466b4), hex(0x164784)};
    return {hex(0x3b86cc), hex(0x2064b4), hex(0x1a5296)};
  }
  if (look == 1) return {hex(0x6a7f96), hex(0x4f6279), hex(0x3c4d62)};
  if (look == 2) return {hex(0x36465a), hex(0x45566c), hex(0x2a3849)};
  return {hex(0x5a6d84), hex(0x44566c), hex(0x34455a)};
}

// Undoes the tint (0.8, 1, 0.8) of enabled image buttons.
void untint(canvas& c) {
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) {
      rgba p = c.get(x, y);
      p.r = clamp01(p.r / 0.8f), p.b = clamp01(p.b / 0.8f);
      c.set(x, y, p);
    }
}

void draw_icon(canvas& c, glyph_icon icon, float x, float y, const rgba& ink) {
  // (x, y): lower-left of a 12 x 10 box.
  switch (icon) {
    case glyph_icon::folder:
      rounded(c, {x, y, x + 12, y + 8}, 1.5f, solid(ink));
      rounded(c, {x, y + 6, x + 5.5f, y + 10}, 1.2f, solid(ink));
      break;
    case glyph_icon::download:
      line(c, x + 6, y + 10, x + 6, y + 3.2f, 1.6f, ink);
      line(c, x + 2.6f, y + 6.2f, x + 6, y + 2.8f, 1.6f, ink);
      line(c, x + 9.4f, y + 6.2f, x + 6, y + 2.8f, 1.6f, ink);
      line(c, x + 1, y + 0.3f, x + 11, y + 0.3f, 1.5f, ink);
      break;
    case glyph_icon::check:
      line(c, x + 1.5f, y + 5, x + 4.6f, y + 1.8f, 1.8f, ink);
      line(c, x + 4.6f, y + 1.8f, x + 10.5f, y + 8.5f, 1.8f, ink);
      break;
    case glyph_icon::cross:
      line(c, x + 2.5f, y + 1.5f, x + 9.5f, y + 8.5f, 1.7f, ink);
      line(c, x + 2.5f, y + 8.5f, x + 9.5f, y + 1.5f, 1.7f, ink);
      break;
    case glyph_icon::none:
      break;
  }
}

canvas button_face(const fonts& f, const button_look& d, int w, int h, int look) {
  canvas c(w, h);
  const button_colours col = colours_for(d.primary, look);
  const box b{0, 0, static_cast<float>(w) + (d.square_right ? 12.0f : 0.0f), static_cast<float>(h)};
  rounded(c, b, 5, vgrad(0, col.bottom, static_cast<float>(h), col.top));
  if (look == 2) {
    // Pressed: a soft inner shadow along the top edge.
    c.fill(
        {0, h - 3.0f, static_cast<float>(w), static_cast<float>(h)},
        [&](float x, float y) { return aa(sd_round_box(x, y, b, 5)) * smoothstep(h - 3.0f, h - 0.0f, y); },
        solid(hex(0x000000, 0.22f)));
  } else {
    c.fill(
        {0, h - 2.0f, static_cast<float>(w), h - 1.0f},
        [&](float x, float y) { return aa(sd_round_box(x, y, b, 5)); }, solid(hex(0xffffff, 0.22f)));
  }
  rounded_border(c, b, 5, 1, col.edge);

  const float px = 11.5f;
  const float text_w = f.bold.measure(d.label, px, 0.2f);
  const float icon_w = d.icon == glyph_icon::none ? 0.0f : 16.0f;
  float x = std::round((w - text_w - icon_w) / 2.0f);
  const float base = 7.0f - (look == 2 ? 1.0f : 0.0f);
  const rgba ink = hex(0xffffff);
  if (icon_w > 0) {
    draw_icon(c, d.icon, x, base - 1, ink);
    x += icon_w;
  }
  f.bold.draw(c, d.label, px, x, base - 1, hex(0x000000, 0.22f), 0.2f);
  f.bold.draw(c, d.label, px, x, base, ink, 0.2f);
  if (d.untinted) untint(c);
  return c;
}

}  // namespace

canvas globe(float turn, int size) {
  canvas c(size, size);
  // Drawn for a 64 x 64 cell and scaled, so the atlas cells stay as they were.
  const float k = static_cast<float>(size) / 64.0f;
  const float cx = 32 * k, cy = 32 * k, r = 25.5f * k, glow = 5.5f * k;
  const float side = static_cast<float>(size);
  // Outer glow.
  c.fill(
      {0, 0, side, side},
      [&](float x, float y) {
        const float d = sd_circle(x, y, cx, cy, r);
        return d > 0 ? 0.45f * std::pow(1.0f - smoothstep(0, glow, d), 2.0f) : 0.0f;
      },
      solid(hex(0x8fd0ff)));
  const float angle = turn * 6.2831853f;
  const float lx = -0.55f, ly = 0.55f, lz = 0.63f;  // light from the upper left
  c.fill_ss(
      {cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1}, 4,
      [&](float x, float y) { return sd_circle(x, y, cx, cy, r) <= 0 ? 1.0f : 0.0f; },
      [&](float x, float y) {
        const float nx = (x - cx) / r, ny = (y - cy) / r;
        const float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
        // Point on the sphere in the globe's own frame (turned about the axis).
        const float ca = std::cos(angle), sa = std::sin(angle);
        const float px = nx * ca - nz * sa, pz = nx * sa + nz * ca, py = ny;
        const float h = fbm3(px * 1.9f + 3.1f, py * 1.9f + 1.7f, pz * 1.9f - 2.3f, 5);
        const float lat = std::fabs(py);
        rgba surf;
        if (lat > 0.9f + 0.04f * h) {
          surf = hex(0xf2f7fb);
        } else if (h > 0.54f) {
          const float t = smoothstep(0.54f, 0.72f, h);
          surf = mix(hex(0x4f9a5c), hex(0xb9a672), t * 0.8f);
          surf = mix(surf, hex(0x3f7f4c), smoothstep(0.2f, 0.0f, lat) * 0.4f);
        } else {
          const float shallow = smoothstep(0.44f, 0.54f, h);
          surf = mix(hex(0x1a5aa6), hex(0x3e95dc), shallow);
        }
        const float diffuse = std::max(0.0f, nx * lx + ny * ly + nz * lz);
        float light = 0.30f + 0.85f * diffuse;
        rgba col{surf.r * light, surf.g * light, surf.b * light, 1};
        if (h <= 0.54f) {
          // Sun glint on the water.
          const float hx = lx, hy = ly, hz = lz + 1;
          const float hn = std::sqrt(hx * hx + hy * hy + hz * hz);
          const float specular = std::pow(std::max(0.0f, (nx * hx + ny * hy + nz * hz) / hn), 40.0f);
          col = mix(col, hex(0xffffff), specular * 0.6f);
        }
        // Atmosphere toward the rim.
        const float rim = std::pow(1.0f - nz, 2.2f);
        col = mix(col, hex(0x9ed8ff), rim * 0.75f);
        col.r = clamp01(col.r), col.g = clamp01(col.g), col.b = clamp01(col.b), col.a = 1;
        return col;
      });
  return c;
}

namespace {

// The picture behind the globe: a deep-blue tile, square on the left where
// it meets the window edge, with an orbit around the globe's place.
canvas source_picture() {
  canvas c(128, 86);
  const box b{-12, 0, 128, 86};
  rounded(c, b, 10, [](float x, float y) {
    const float d = std::hypot(x - 61, y - 45) / 80.0f;
    return mix(hex(0x1f4e80), hex(0x0e2440), clamp01(d));
  });
  // Fine latitude arcs give the tile depth without competing with the globe.
  for (int i = 1; i <= 3; ++i) {
    const float rr = 34.0f + i * 9.0f;
    c.fill(
        {0, 0, 128, 86},
        [&](float x, float y) {
          const float d = std::fabs(std::hypot(x - 61, y - 45) - rr);
          return aa(d - 0.45f) * 0.10f;
        },
        solid(hex(0xbfe3ff)));
  }
  // Orbit ellipse with a satellite.
  c.fill(
      {0, 0, 128, 86},
      [](float x, float y) {
        const float ex = (x - 61) / 50.0f, ey = (y - 45) / 17.0f;
        const float d = std::fabs(std::sqrt(ex * ex + ey * ey) - 1.0f) * 17.0f;
        return aa(d - 0.5f) * 0.45f;
      },
      solid(hex(0x7cc4ff)));
  disc(c, 61 + 50 * std::cos(-0.5f), 45 + 17 * std::sin(-0.5f), 2.4f, solid(hex(0xd7efff)));
  rounded_border(c, b, 10, 1, hex(0x0a1a2e, 0.6f));
  return c;
}

canvas panel_cell() {
  canvas c(41, 41);
  const box b{0, 0, 41, 41};
  rounded(c, b, 6, solid(hex(0xffffff)));
  rounded_border(c, b, 6, 1, hex(0xb9c7d5));
  return c;
}

}  // namespace

canvas make_atlas(const fonts& f) {
  canvas atlas(1010, 764);
  const button_look looks[] = {
      // Install is also drawn disabled (tinted light red): kept as drawn, it
      // turns teal when enabled and a muted violet when disabled.
      {"Destination", false, glyph_icon::folder, true, true},
      {"Install", true, glyph_icon::download, false, false},
      {"Quit", false, glyph_icon::none, false, true},
      {"Decline", false, glyph_icon::cross, false, true},
      {"Accept", true, glyph_icon::none, false, true},
  };
  for (int i = 0; i < 5; ++i) {
    const atlas_rect& r = kAtlasButtons[i];
    for (int look = 0; look < 3; ++look) {
      const canvas face = button_face(f, looks[i], r.ds, r.dt, look);
      atlas.copy_from(face, 0, 0, r.ds, r.dt, r.s, r.t - look * (r.dt + 1));
    }
  }
  const canvas src = source_picture();
  atlas.copy_from(src, 0, 0, src.width(), src.height(), kAtlasSourcePicture.s, kAtlasSourcePicture.t);
  for (int icon = kGlobeFirstIcon; icon <= kGlobeLastIcon; ++icon) {
    const canvas g = globe(static_cast<float>(icon - kGlobeFirstIcon) / 16.0f, kAtlasIconSize);
    atlas.copy_from(g, 0, 0, kAtlasIconSize, kAtlasIconSize, atlas_icon_s(icon), atlas_icon_t(icon));
  }
  const canvas p = panel_cell();
  const frame_cell& cell = *frame_cell_of(kAtlasFrameStyle);
  atlas.copy_from(p, 0, 0, cell.cell, cell.cell, cell.u, cell.v);
  return atlas;
}
