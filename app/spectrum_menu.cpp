#include "app/spectrum_menu.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "analysis/spectrogram_analyser.h"
#include "app/commands.h"

SpectrumChoices spectrumChoices;
SpectrumView spectrumView;
SpectrogramView spectrogramView;

namespace {

const wchar_t* const CHOICES_SETTING = L"SpectrumView";
constexpr int FLOORS[] = {-90, -120, -150};
constexpr int HISTORIES[] = {2, 5, 10, 30};
// The entries in their order, as SpectrumMenu lists them.
enum Entry {
  LOGARITHMIC, LINEAR, DBFS, NORMALISED, FLOOR_90, FLOOR_120, FLOOR_150, HOLD, FREEZE, COPY, COPY_PICTURE,
  SPECTROGRAM, RESOLUTION, SIZE_1, SIZE_2, SIZE_3, SIZE_4, TIME, HISTORY_1, HISTORY_2, HISTORY_3, HISTORY_4, ENTRIES
};

std::wstring FrameSizeText(const wchar_t* name, double rate, std::uint32_t multiple) {
  const std::uint32_t points = SpectrogramPoints(rate, multiple);
  wchar_t text[96];
  std::swprintf(text, std::size(text), L"%ls: %u points, %.1f Hz, %.1f ms", name, points, rate / points,
                1000.0 * points / rate);
  return text;
}

}  // namespace

std::vector<SpectrumMenuItem> SpectrumMenu(const SpectrumChoices& c, double rate) {
  const wchar_t* const sizeNames[] = {L"&Time", L"&Balanced", L"&Frequency", L"F&inest frequency"};
  std::vector<SpectrumMenuItem> items = {{L"&Logarithmic frequency", c.logarithmic, true},
                                         {L"L&inear frequency", !c.logarithmic, true},
                                         {L"&dBFS", c.dbfs, true, true},
                                         {L"&Normalised", !c.dbfs, true},
                                         {L"-&90 dBFS", c.floorDb == -90, true, true},
                                         {L"-1&20 dBFS", c.floorDb == -120, true},
                                         {L"-15&0 dBFS", c.floorDb == -150, true},
                                         {L"&Hold peaks", c.holdPeaks, false, true},
                                         {L"&Freeze", c.freeze},
                                         {L"&Copy spectrum", false, false, true},
                                         {L"Copy &picture", false},
                                         {L"&Spectrogram", c.spectrogram, false, true},
                                         {L"Spectrogram &resolution", false, false, false, true}};
  for (int i = 0; i < 4; ++i) {
    items.push_back({FrameSizeText(sizeNames[i], rate, SPECTROGRAM_SIZE_MULTIPLES[i]),
                     c.frameMultiple == SPECTROGRAM_SIZE_MULTIPLES[i], true, false, false, RESOLUTION});
  }
  items.push_back({L"Spectrogram &time", false, false, false, true});
  for (int i = 0; i < 4; ++i) {
    items.push_back({L"&" + std::to_wstring(HISTORIES[i]) + L" s", c.historySeconds == HISTORIES[i], true, false,
                     false, TIME});
  }
  return items;
}

std::wstring SpectrumChoicesText(const SpectrumChoices& c) {
  return std::wstring(c.logarithmic ? L"log" : L"linear") + (c.dbfs ? L" dbfs " : L" normalised ") +
         std::to_wstring(c.floorDb) + (c.holdPeaks ? L" hold" : L" live") +
         (c.spectrogram ? L" spectrogram " : L" spectrum ") + std::to_wstring(c.frameMultiple) + L" " +
         std::to_wstring(c.historySeconds);
}

SpectrumChoices ParseSpectrumChoices(const std::wstring& text) {
  wchar_t axis[16] = L"", scale[16] = L"", hold[16] = L"", view[16] = L"spectrum";
  int floorDb = 0, multiple = 1, history = 10, end = 0, shortEnd = 0;
  SpectrumChoices c;
  // A setting saved before the spectrogram has its first four words only.
  const int read = std::swscanf(text.c_str(), L"%15ls %15ls %d %15ls%n %15ls %d %d%n", axis, scale, &floorDb, hold,
                                &shortEnd, view, &multiple, &history, &end);
  if (!(read == 4 && static_cast<std::size_t>(shortEnd) == text.size()) &&
      !(read == 7 && static_cast<std::size_t>(end) == text.size())) {
    return c;
  }
  const std::wstring a = axis, s = scale, h = hold, v = view;
  const auto known = [](const auto& list, auto value) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
  };
  if ((a != L"log" && a != L"linear") || (s != L"dbfs" && s != L"normalised") || (h != L"hold" && h != L"live") ||
      (v != L"spectrogram" && v != L"spectrum") || !known(FLOORS, floorDb) ||
      multiple < 0 || !known(SPECTROGRAM_SIZE_MULTIPLES, static_cast<std::uint32_t>(multiple)) || !known(HISTORIES, history)) {
    return c;
  }
  return {a == L"log", s == L"dbfs", floorDb, h == L"hold", false, v == L"spectrogram",
          static_cast<std::uint32_t>(multiple), history};
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
    case COPY_PICTURE: return SpectrumPick::CopyPicture;
    case SPECTROGRAM: c.spectrogram = !c.spectrogram; break;
    case SIZE_1: case SIZE_2: case SIZE_3: case SIZE_4: c.frameMultiple = SPECTROGRAM_SIZE_MULTIPLES[picked - SIZE_1]; break;
    case HISTORY_1: case HISTORY_2: case HISTORY_3: case HISTORY_4: c.historySeconds = HISTORIES[picked - HISTORY_1]; break;
    default: return SpectrumPick::Nothing;
  }
  return SpectrumPick::Changed;
}

namespace {
// UI thread only: whether the panel was last drawn as a spectrogram.
bool showingSpectrogram = false;
}  // namespace

PanelDrawing CurrentSpectrumPanelView(PanelRect rect, TextSize text, int dpi) {
  const bool shown = spectrumChoices.spectrogram && IsLargeSpectrum(rect, dpi);
  // Shown again, it starts afresh: nothing was analysed meanwhile.
  if (shown && !showingSpectrogram) spectrogramView.Clear();
  showingSpectrogram = shown;
  // The short analysis runs only while its columns are shown.
  spectrogramFrameMultiple.store(showingSpectrogram ? spectrumChoices.frameMultiple : 0);
  if (showingSpectrogram) return spectrogramView.DrawCurrent(rect, spectrumChoices, text, dpi);
  return spectrumView.DrawCurrent(rect, spectrumChoices, text, dpi);
}

std::wstring SpectrumPanelText() {
  return showingSpectrogram ? spectrogramView.AccessibleText() : spectrumView.AccessibleText();
}

void SetSpectrumCursor(std::optional<PanelPoint> at) {
  spectrumView.SetCursor(at ? std::optional<int>(at->x) : std::nullopt);
  spectrogramView.SetCursor(at);
}
