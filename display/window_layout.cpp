#include "display/window_layout.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "display/panels.h"

Growth GrowthOf(int outerWidth, int outerHeight, int clientWidth, int clientHeight, int dpi) {
  const int firstClientWidth = ScaleToDpi(FIRST_WINDOW_WIDTH, dpi) - (outerWidth - clientWidth);
  const int firstClientHeight = ScaleToDpi(FIRST_WINDOW_HEIGHT, dpi) - (outerHeight - clientHeight);
  return {std::max(0, clientWidth - firstClientWidth), std::max(0, clientHeight - firstClientHeight)};
}

ControlBox LaidOut(const ControlBox& at96, Grows grows, Growth growth, int dpi) {
  return {ScaleToDpi(at96.x, dpi), ScaleToDpi(at96.y, dpi),
          ScaleToDpi(at96.width, dpi) + (grows == Grows::No ? 0 : growth.width),
          ScaleToDpi(at96.height, dpi) + (grows == Grows::InWidthAndHeight ? growth.height : 0)};
}

std::wstring WindowPlaceText(const WindowPlace& place) {
  return std::to_wstring(place.box.x) + L" " + std::to_wstring(place.box.y) + L" " + std::to_wstring(place.box.width) +
         L" " + std::to_wstring(place.box.height) + (place.maximised ? L" 1 " : L" 0 ") + std::to_wstring(place.dpi);
}

bool ParseWindowPlace(const std::wstring& text, WindowPlace& place) {
  int x = 0, y = 0, width = 0, height = 0, maximised = 0, dpi = 0, end = 0;
  if (std::swscanf(text.c_str(), L"%d %d %d %d %d %d%n", &x, &y, &width, &height, &maximised, &dpi, &end) != 6 ||
      static_cast<std::size_t>(end) != text.size() || width <= 0 || height <= 0 || (maximised != 0 && maximised != 1) ||
      dpi < 48 || dpi > 960) {
    return false;
  }
  place = {{x, y, width, height}, maximised == 1, dpi};
  return true;
}

ControlBox PlaceAtDpi(const WindowPlace& place, int dpi) {
  const auto scaled = [&](int value) {
    return static_cast<int>((static_cast<long long>(value) * dpi + place.dpi / 2) / place.dpi);
  };
  return {place.box.x, place.box.y, std::max(scaled(place.box.width), ScaleToDpi(FIRST_WINDOW_WIDTH, dpi)),
          std::max(scaled(place.box.height), ScaleToDpi(FIRST_WINDOW_HEIGHT, dpi))};
}

ControlBox KeptOnScreen(ControlBox box, const ControlBox& workArea) {
  box.width = std::min(box.width, workArea.width);
  box.height = std::min(box.height, workArea.height);
  box.x = std::clamp(box.x, workArea.x, workArea.x + workArea.width - box.width);
  box.y = std::clamp(box.y, workArea.y, workArea.y + workArea.height - box.height);
  return box;
}
