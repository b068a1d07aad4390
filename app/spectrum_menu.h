#pragma once

#include <string>
#include <vector>

#include "display/spectrum_view.h"

class WindowOps;

// UI thread only: what the user chose for the spectrum view, loaded at the
// start and saved as it changes (freezing aside: a new start shows the
// sound).
extern SpectrumChoices spectrumChoices;
// UI thread only: the spectrum panel's view, which the window draws.
extern SpectrumView spectrumView;

struct SpectrumMenuItem {
  std::wstring text;  // with its access key after "&"
  bool checked = false;
  bool radio = false;           // one of a group, shown with a dot
  bool separatorBefore = false;
};
// The spectrum's context menu for the choices as they are.
std::vector<SpectrumMenuItem> SpectrumMenu(const SpectrumChoices& choices);

// The choices as the setting keeps them, and back; a setting that is not
// one gives the defaults.
std::wstring SpectrumChoicesText(const SpectrumChoices& choices);
SpectrumChoices ParseSpectrumChoices(const std::wstring& text);
void LoadSpectrumChoices(WindowOps& window);
void SaveSpectrumChoices(WindowOps& window);

// What the entry picked (its index in SpectrumMenu, or -1) does: changes
// the choices, or asks for the spectrum to be copied.
enum class SpectrumPick { Nothing, Changed, Copy };
SpectrumPick ApplySpectrumPick(SpectrumChoices& choices, int picked);
