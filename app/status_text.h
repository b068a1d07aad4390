#pragma once

#include <cstdint>
#include <string>

#include "state/recorder_state.h"

// The status line for a finished recording. failure matters only for
// RecordingOutcome::CouldNotStart.
std::wstring OutcomeStatusText(RecordingOutcome outcome, const std::wstring& path,
                               const StartFailure& failure = {});

// The status line while recording: "Recording...", or how long the device
// has delivered nothing.
std::wstring RecordingStatusText(std::uint32_t seconds);
