#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The large spectrum view's axes: frequency along x, logarithmic or linear,
// and the level in dBFS along y. The drawing and the mouse's readout both
// ask them; nothing else tells a logarithmic axis from a linear one.

struct AxisTick {
  double value = 0.0;  // hertz, or dB
  int pixel = 0;       // from the axis's start
  std::wstring label;  // empty: a grid line alone
};

class FrequencyAxis {
 public:
  FrequencyAxis() = default;
  // From lowHz at pixel 0 to highHz at pixel `pixels`; a logarithmic axis
  // needs lowHz above 0.
  FrequencyAxis(bool logarithmic, double lowHz, double highHz, int pixels);
  bool operator==(const FrequencyAxis&) const = default;

  double ToPixel(double hz) const;
  double ToHz(double pixel) const;
  double LowHz() const { return low; }
  double HighHz() const { return high; }
  int Pixels() const { return pixels; }
  bool Logarithmic() const { return logarithmic; }
  // The grid's ticks, each label at least labelPixels from the next (its
  // width and a gap): on a logarithmic axis every 1 to 9 times a power of
  // ten, labelled at 1, 2 and 5 times it, or at the powers alone, as room
  // allows; on a linear one every 1, 2 or 5 times a power of ten, all
  // labelled.
  std::vector<AxisTick> Ticks(int labelPixels) const;

 private:
  bool logarithmic = true;
  double low = 20.0;
  double high = 24000.0;
  int pixels = 0;
};

// A frequency as the axis labels it: "20", "500", "1k", "2.5k", "20k".
std::wstring FrequencyLabel(double hz);

// dBFS from 0 at pixel 0 down to floorDb at pixel `pixels`.
class LevelAxis {
 public:
  LevelAxis() = default;
  LevelAxis(double floorDb, int length) : floor(floorDb), pixels(length) {}
  // Below the floor, and silence, sit on it.
  int ToPixel(double db) const;
  double ToDb(double pixel) const { return pixel / pixels * floor; }
  double Floor() const { return floor; }
  // Every 10 dB, or every 20 where 10 would bring two labels closer than
  // labelPixels; labelled "0", "-20", ...
  std::vector<AxisTick> Ticks(int labelPixels) const;

 private:
  double floor = -120.0;
  int pixels = 1;
};

// A magnitude relative to full scale in dB; -infinity for nothing.
double ToDbfs(double amplitude);
// "Peak: 440.00 Hz, -12.0 dBFS"
std::wstring PeakReadout(double hz, double dbfs);
// "2500.0 Hz, -63.2 dBFS" ("-inf dBFS" for silence)
std::wstring CursorReadout(double hz, double dbfs);

// The large view's curve: the bins each of its points covers, drawn at one
// pixel column. Where a column covers several bins its point is their
// largest; where a bin is wider than a column, each bin is a point of its
// own at its centre's column, and the curve joins them.
struct CurvePoint {
  int x = 0;                // pixel from the axis's start
  std::uint32_t first = 0;  // the bins first to last, inclusive
  std::uint32_t last = 0;
};
std::vector<CurvePoint> CurveMap(const FrequencyAxis& axis, double binHz, std::size_t bins);
