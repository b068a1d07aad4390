#pragma once

#include <array>
#include <cstdint>

// The spectrogram's colours: from nearly black at the floor through purple,
// red and orange to a pale yellow at 0 dBFS, with the perceived lightness
// (Oklab's L) rising in equal steps, so that equal steps in level look
// equally far apart; never a rainbow.

constexpr std::size_t COLOUR_MAP_SIZE = 256;

// 0x00RRGGBB, as a top-down 32-bit DIB stores a pixel.
using Pixel = std::uint32_t;

// Entry 0 is the floor, the last 0 dBFS. Made once per process.
const std::array<Pixel, COLOUR_MAP_SIZE>& ColourMap();

// The colour of a level on the scale from floorDb (and below) to 0 dBFS (and above).
Pixel LevelColour(float dbfs, float floorDb);
