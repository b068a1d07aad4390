#include "display/colour_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

struct Oklab {
  double lightness, a, b;
};

// sRGB to Oklab the forward way (Ottosson's matrices), sharing nothing with
// the map's making, which goes the other way.
Oklab ToOklab(Pixel pixel) {
  const auto linear = [](std::uint32_t v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  const double r = linear(pixel >> 16 & 0xFF), g = linear(pixel >> 8 & 0xFF), b = linear(pixel & 0xFF);
  const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
  const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
  const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
  return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
          1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
          0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

TEST(ColourMap, DarkToBrightInEqualStepsOfLightnessAndNoRainbow) {
  const auto& map = ColourMap();
  EXPECT_LT(ToOklab(map.front()).lightness, 0.2);
  EXPECT_GT(ToOklab(map.back()).lightness, 0.95);
  // Sixteen groups of 16 entries: each rises in lightness as much as the
  // others, within what 8 bits a channel can tell.
  const double step = (ToOklab(map[240]).lightness - ToOklab(map[0]).lightness) / 15.0;
  for (std::size_t i = 0; i + 16 < map.size(); i += 16) {
    EXPECT_NEAR(ToOklab(map[i + 16]).lightness - ToOklab(map[i]).lightness, step, 0.1 * step) << "entry " << i;
  }
  for (std::size_t i = 0; i + 2 < map.size(); ++i) {
    EXPECT_GT(ToOklab(map[i + 2]).lightness, ToOklab(map[i]).lightness) << "entry " << i;
  }
  // Violet, red, orange, yellow: no green, cyan or blue where there is colour.
  int coloured = 0;
  for (const Pixel pixel : map) {
    const Oklab c = ToOklab(pixel);
    if (std::hypot(c.a, c.b) < 0.05) continue;
    ++coloured;
    const double hue = std::fmod(std::atan2(c.b, c.a) * 180.0 / std::numbers::pi + 360.0, 360.0);
    EXPECT_FALSE(hue > 130.0 && hue < 265.0) << std::hex << pixel << " at hue " << hue;
  }
  EXPECT_GT(coloured, 150);
}

TEST(ColourMap, LevelsMapOntoTheScaleFromTheFloorToFullScale) {
  const auto& map = ColourMap();
  constexpr float inf = std::numeric_limits<float>::infinity();
  const struct {
    float dbfs, floorDb;
    std::size_t entry;
  } rows[] = {{-120.0f, -120.0f, 0}, {-150.0f, -120.0f, 0}, {-inf, -90.0f, 0}, {std::nanf(""), -90.0f, 0},
              {0.0f, -120.0f, 255},  {3.0f, -120.0f, 255},  {-60.0f, -120.0f, 128}, {-45.0f, -90.0f, 128},
              {-119.0f, -120.0f, 2}};
  for (const auto& row : rows) EXPECT_EQ(LevelColour(row.dbfs, row.floorDb), map[row.entry]) << row.dbfs;
}

}  // namespace
