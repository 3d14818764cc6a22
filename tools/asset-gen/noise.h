#pragma once
// Deterministic value noise (no random state: the pictures must come out the
// same on every run).
float noise3(float x, float y, float z);
// Fractal sum of `octaves` octaves of noise3, about 0..1.
float fbm3(float x, float y, float z, int octaves);
inline float fbm2(float x, float y, int octaves) {
  return fbm3(x, y, 0.37f, octaves);
}
