#pragma once

#include <optional>
#include <string>
#include <vector>

#include "display/spectrogram_view.h"
#include "display/spectrum_view.h"

class WindowOps;

// UI thread only: what the user chose for the spectrum view, loaded at the
// start and saved as it changes (freezing aside: a new start shows the
// sound).
extern SpectrumChoices spectrumChoices;
// UI thread only: the spectrum panel's views, which the window draws.
extern SpectrumView spectrumView;
extern SpectrogramView spectrogramView;

// UI thread: what the spectrum panel shows, the spectrogram while it is
// chosen and the panel is large, the spectrum otherwise; and whether the
// analysis is to feed the spectrogram.
PanelDrawing CurrentSpectrumPanelView(PanelRect rect, TextSize text, int dpi);
// The panel's text for screen readers, of the view it shows.
std::wstring SpectrumPanelText();
// The mouse at a point of the panel (from its top-left corner), or gone.
void SetSpectrumCursor(std::optional<PanelPoint> at);

struct SpectrumMenuItem {
  std::wstring text;  // with its access key after "&"
  bool checked = false;
  bool radio = false;           // one of a group, shown with a dot
  bool separatorBefore = false;
  bool opensSubmenu = false;
  int inSubmenu = -1;  // the index of the entry whose submenu it is in; -1: the menu itself
};
// The spectrum's context menu for the choices as they are; the
// spectrogram's frame sizes are given in Hz and ms at the rate.
std::vector<SpectrumMenuItem> SpectrumMenu(const SpectrumChoices& choices, double rate = 48000.0);

// The choices as the setting keeps them, and back; a setting that is not
// one gives the defaults.
std::wstring SpectrumChoicesText(const SpectrumChoices& choices);
SpectrumChoices ParseSpectrumChoices(const std::wstring& text);
void LoadSpectrumChoices(WindowOps& window);
void SaveSpectrumChoices(WindowOps& window);

// What the entry picked (its index in SpectrumMenu, or -1) does: changes
// the choices, or asks for the spectrum to be copied.
enum class SpectrumPick { Nothing, Changed, Copy, CopyPicture };
SpectrumPick ApplySpectrumPick(SpectrumChoices& choices, int picked);
