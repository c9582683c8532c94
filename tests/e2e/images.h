// Images for the packages of the fault tests: each seed gives its own bytes, mixed like a
// program's (runs, small numbers, noise), so that a body neither vanishes nor stays raw.
#pragma once
#include <cstddef>
#include <cstdint>

#include "pack.h"

inline Bytes sampleImage(uint32_t seed, std::size_t length) {
  Bytes image(length);
  uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < length; ++i) {
    state = state * 1664525u + 1013904223u;
    const uint32_t noise = state >> 24;
    switch ((i >> 6) % 3) {
      case 0: image[i] = static_cast<uint8_t>(noise); break;
      case 1: image[i] = static_cast<uint8_t>(seed + (i & 7)); break;
      default: image[i] = static_cast<uint8_t>(noise & 3); break;
    }
  }
  return image;
}

inline void putUInt32LE(Bytes& package, std::size_t at, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) package[at++] = static_cast<uint8_t>(value >> shift);
}

// A large image that packs fast: one byte repeated, with a counter every 4 KiB so that no two
// stretches of it are alike.
inline Bytes largeImage(uint8_t seed, std::size_t length) {
  Bytes image(length, seed);
  for (std::size_t i = 0; i < length; i += 4096) image[i] = static_cast<uint8_t>(i >> 12);
  return image;
}
