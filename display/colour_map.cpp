#include "display/colour_map.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct LinearRgb {
  double r, g, b;
};

// Oklab (L, a, b) to linear sRGB (Björn Ottosson's matrices).
LinearRgb FromOklab(double lightness, double a, double b) {
  const double l = std::pow(lightness + 0.3963377774 * a + 0.2158037573 * b, 3.0);
  const double m = std::pow(lightness - 0.1055613458 * a - 0.0638541728 * b, 3.0);
  const double s = std::pow(lightness - 0.0894841775 * a - 1.2914855480 * b, 3.0);
  return {4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s,
          -1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s,
          -0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s};
}

bool InGamut(const LinearRgb& c) {
  constexpr double e = 1e-9;
  return c.r >= -e && c.r <= 1 + e && c.g >= -e && c.g <= 1 + e && c.b >= -e && c.b <= 1 + e;
}

std::uint32_t Encoded(double linear) {
  const double v = std::clamp(linear, 0.0, 1.0);
  const double srgb = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
  return static_cast<std::uint32_t>(std::lround(srgb * 255.0));
}

}  // namespace

const std::array<Pixel, COLOUR_MAP_SIZE>& ColourMap() {
  static const std::array<Pixel, COLOUR_MAP_SIZE> map = [] {
    std::array<Pixel, COLOUR_MAP_SIZE> m{};
    for (std::size_t i = 0; i < COLOUR_MAP_SIZE; ++i) {
      const double t = static_cast<double>(i) / (COLOUR_MAP_SIZE - 1);
      // Lightness in equal steps; the hue turns from violet through red to
      // yellow (290 to 460 degrees), the colour strongest in the middle.
      const double lightness = 0.13 + 0.84 * t;
      const double hue = (290.0 + 170.0 * t) * std::numbers::pi / 180.0;
      double chroma = 0.16 * std::pow(std::sin(std::numbers::pi * std::min(t * 1.1, 1.0)), 0.7) + 0.03;
      LinearRgb c = FromOklab(lightness, chroma * std::cos(hue), chroma * std::sin(hue));
      // Less colour where the screen cannot show it; the lightness stays.
      while (!InGamut(c) && chroma > 0.0) {
        chroma = std::max(0.0, chroma - 0.002);
        c = FromOklab(lightness, chroma * std::cos(hue), chroma * std::sin(hue));
      }
      m[i] = Encoded(c.r) << 16 | Encoded(c.g) << 8 | Encoded(c.b);
    }
    return m;
  }();
  return map;
}

Pixel LevelColour(float dbfs, float floorDb) {
  // Silence, and anything not a number, sits on the floor.
  const float t = dbfs > floorDb ? std::min((dbfs - floorDb) / -floorDb, 1.0f) : 0.0f;
  return ColourMap()[static_cast<std::size_t>(std::lround(t * (COLOUR_MAP_SIZE - 1)))];
}
