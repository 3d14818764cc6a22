#include "noise.h"

#include <cmath>
#include <cstdint>

namespace {

float hash(int x, int y, int z) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u +
                    static_cast<std::uint32_t>(z) * 2147483647u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return static_cast<float>(h & 0xffffff) / static_cast<float>(0xffffff);
}

float fade(float t) {
  return t * t * t * (t * (t * 6 - 15) + 10);
}
float lerp(float a, float b, float t) {
  return a + (b - a) * t;
}

}  // namespace

float noise3(float x, float y, float z) {
  const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y)),
            zi = static_cast<int>(std::floor(z));
  const float u = fade(x - xi), v = fade(y - yi), w = fade(z - zi);
  float c[2][2][2];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 2; ++k) c[i][j][k] = hash(xi + i, yi + j, zi + k);
  const float x00 = lerp(c[0][0][0], c[1][0][0], u), x10 = lerp(c[0][1][0], c[1][1][0], u);
  const float x01 = lerp(c[0][0][1], c[1][0][1], u), x11 = lerp(c[0][1][1], c[1][1][1], u);
  return lerp(lerp(x00, x10, v), lerp(x01, x11, v), w);
}

float fbm3(float x, float y, float z, int octaves) {
  float sum = 0, amp = 0.5f, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += noise3(x, y, z) * amp;
    norm += amp;
    x *= 2.03f, y *= 2.03f, z *= 2.03f;
    amp *= 0.5f;
  }
  return sum / norm;
}
