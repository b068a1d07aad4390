#include "display/spectrum_axes.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>

FrequencyAxis::FrequencyAxis(bool isLogarithmic, double lowHz, double highHz, int length)
    : logarithmic(isLogarithmic), low(lowHz), high(std::max(highHz, lowHz * 1.001 + 1e-9)), pixels(length) {}

double FrequencyAxis::ToPixel(double hz) const {
  if (logarithmic) return std::log(std::max(hz, 1e-9) / low) / std::log(high / low) * pixels;
  return (hz - low) / (high - low) * pixels;
}

double FrequencyAxis::ToHz(double pixel) const {
  const double share = pixel / std::max(pixels, 1);
  return logarithmic ? low * std::pow(high / low, share) : low + share * (high - low);
}

std::wstring FrequencyLabel(double hz) {
  wchar_t text[32];
  if (hz < 1000.0) {
    std::swprintf(text, std::size(text), L"%g", hz);
  } else {
    std::swprintf(text, std::size(text), L"%gk", hz / 1000.0);
  }
  return text;
}

std::vector<AxisTick> FrequencyAxis::Ticks(int labelPixels) const {
  std::vector<AxisTick> ticks;
  if (pixels <= 0) return ticks;
  const auto at = [&](double hz) { return static_cast<int>(std::lround(ToPixel(hz))); };
  if (!logarithmic) {
    // The smallest 1, 2 or 5 times a power of ten whose ticks are far
    // enough apart; the range itself at most.
    const double range = high - low;
    const int top = static_cast<int>(std::ceil(std::log10(range)));
    double step = std::pow(10.0, top);
    for (int power = top - 4; power < top && step == std::pow(10.0, top); ++power) {
      for (const double m : {1.0, 2.0, 5.0}) {
        const double candidate = m * std::pow(10.0, power);
        if (candidate / range * pixels >= labelPixels) {
          step = candidate;
          break;
        }
      }
    }
    for (double hz = std::ceil(low / step - 1e-9) * step; hz <= high * (1 + 1e-12); hz += step) {
      ticks.push_back({hz + 0.0, at(hz), FrequencyLabel(hz + 0.0)});  // + 0.0: no "-0"
    }
    return ticks;
  }
  // Labelled at 1, 2 and 5 times the powers of ten, or only at the powers,
  // or at every other power: the densest that keeps the labels apart.
  const int first = static_cast<int>(std::floor(std::log10(low)));
  const int last = static_cast<int>(std::ceil(std::log10(high)));
  const int firstLabelled = static_cast<int>(std::ceil(std::log10(low) - 1e-9));
  for (const int spacing : {0, 1, 2, 3}) {
    ticks.clear();
    int lastLabel = -1 << 30;
    bool apart = true;
    for (int power = first; power <= last; ++power) {
      for (int m = 1; m <= 9; ++m) {
        const double hz = m * std::pow(10.0, power);
        if (hz < low * (1 - 1e-9) || hz > high * (1 + 1e-9)) continue;
        const bool labelled = spacing == 0   ? m == 1 || m == 2 || m == 5
                              : spacing == 1 ? m == 1
                                             : m == 1 && (power - firstLabelled) % spacing == 0;
        AxisTick tick{hz, at(hz), labelled ? FrequencyLabel(hz) : L""};
        if (labelled) {
          apart = apart && tick.pixel - lastLabel >= labelPixels;
          lastLabel = tick.pixel;
        }
        ticks.push_back(std::move(tick));
      }
    }
    if (apart) break;
  }
  return ticks;
}

int LevelAxis::ToPixel(double db) const {
  if (!(db > floor)) return pixels;  // -infinity and NaN too
  return static_cast<int>(std::lround(std::min(db, 0.0) / floor * pixels));
}

std::vector<AxisTick> LevelAxis::Ticks(int labelPixels) const {
  std::vector<AxisTick> ticks;
  const int step = 10.0 / -floor * pixels >= labelPixels ? 10 : 20;
  for (int db = 0; db >= floor - 1e-9; db -= step) ticks.push_back({double(db), ToPixel(db), std::to_wstring(db)});
  return ticks;
}

double ToDbfs(double amplitude) { return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -HUGE_VAL; }

namespace {
std::wstring Level(double dbfs) {
  if (!(dbfs > -1e200)) return L"-inf dBFS";
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"%.1f dBFS", dbfs);
  return std::wcscmp(text, L"-0.0 dBFS") == 0 ? L"0.0 dBFS" : text;
}
}  // namespace

std::wstring PeakReadout(double hz, double dbfs) {
  wchar_t text[48];
  std::swprintf(text, std::size(text), L"Peak: %.2f Hz, ", hz);
  return text + Level(dbfs);
}

std::wstring CursorReadout(double hz, double dbfs) {
  wchar_t text[48];
  std::swprintf(text, std::size(text), L"%.1f Hz, ", hz);
  return text + Level(dbfs);
}

std::vector<CurvePoint> CurveMap(const FrequencyAxis& axis, double binHz, std::size_t bins) {
  std::vector<CurvePoint> points;
  if (axis.Pixels() <= 0 || binHz <= 0.0) return points;
  const auto firstBin = static_cast<std::size_t>(std::max(0.0, std::ceil(axis.LowHz() / binHz - 1e-9)));
  for (std::size_t bin = firstBin; bin < bins; ++bin) {
    const double hz = static_cast<double>(bin) * binHz;
    if (hz > axis.HighHz() * (1 + 1e-12)) break;
    const int x = std::clamp(static_cast<int>(std::floor(axis.ToPixel(hz))), 0, axis.Pixels() - 1);
    const auto b = static_cast<std::uint32_t>(bin);
    if (!points.empty() && points.back().x == x) {
      points.back().last = b;
    } else {
      points.push_back({x, b, b});
    }
  }
  return points;
}
