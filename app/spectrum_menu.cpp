#include "app/spectrum_menu.h"

#include <cwchar>

#include "app/commands.h"

SpectrumChoices spectrumChoices;
SpectrumView spectrumView;

namespace {

const wchar_t* const CHOICES_SETTING = L"SpectrumView";
constexpr int FLOORS[] = {-90, -120, -150};
// The entries in their order, as SpectrumMenu lists them.
enum Entry { LOGARITHMIC, LINEAR, DBFS, NORMALISED, FLOOR_90, FLOOR_120, FLOOR_150, HOLD, FREEZE, COPY, ENTRIES };

}  // namespace

std::vector<SpectrumMenuItem> SpectrumMenu(const SpectrumChoices& c) {
  return {{L"&Logarithmic frequency", c.logarithmic, true},
          {L"L&inear frequency", !c.logarithmic, true},
          {L"&dBFS", c.dbfs, true, true},
          {L"&Normalised", !c.dbfs, true},
          {L"-&90 dBFS", c.floorDb == -90, true, true},
          {L"-1&20 dBFS", c.floorDb == -120, true},
          {L"-15&0 dBFS", c.floorDb == -150, true},
          {L"&Hold peaks", c.holdPeaks, false, true},
          {L"&Freeze", c.freeze},
          {L"&Copy spectrum", false, false, true}};
}

std::wstring SpectrumChoicesText(const SpectrumChoices& c) {
  return std::wstring(c.logarithmic ? L"log" : L"linear") + (c.dbfs ? L" dbfs " : L" normalised ") +
         std::to_wstring(c.floorDb) + (c.holdPeaks ? L" hold" : L" live");
}

SpectrumChoices ParseSpectrumChoices(const std::wstring& text) {
  wchar_t axis[16] = L"", scale[16] = L"", hold[16] = L"";
  int floorDb = 0, end = 0;
  SpectrumChoices c;
  if (std::swscanf(text.c_str(), L"%15ls %15ls %d %15ls%n", axis, scale, &floorDb, hold, &end) != 4 ||
      static_cast<std::size_t>(end) != text.size()) {
    return c;
  }
  const std::wstring a = axis, s = scale, h = hold;
  if ((a != L"log" && a != L"linear") || (s != L"dbfs" && s != L"normalised") || (h != L"hold" && h != L"live") ||
      (floorDb != -90 && floorDb != -120 && floorDb != -150)) {
    return c;
  }
  return {a == L"log", s == L"dbfs", floorDb, h == L"hold", false};
}

void LoadSpectrumChoices(WindowOps& window) { spectrumChoices = ParseSpectrumChoices(window.ReadSetting(CHOICES_SETTING)); }

void SaveSpectrumChoices(WindowOps& window) { window.WriteSetting(CHOICES_SETTING, SpectrumChoicesText(spectrumChoices)); }

SpectrumPick ApplySpectrumPick(SpectrumChoices& c, int picked) {
  switch (picked) {
    case LOGARITHMIC: c.logarithmic = true; break;
    case LINEAR: c.logarithmic = false; break;
    case DBFS: c.dbfs = true; break;
    case NORMALISED: c.dbfs = false; break;
    case FLOOR_90: case FLOOR_120: case FLOOR_150: c.floorDb = FLOORS[picked - FLOOR_90]; break;
    case HOLD: c.holdPeaks = !c.holdPeaks; break;
    case FREEZE: c.freeze = !c.freeze; break;
    case COPY: return SpectrumPick::Copy;
    default: return SpectrumPick::Nothing;
  }
  return SpectrumPick::Changed;
}
