#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "capture/capture_format.h"
#include "capture/sample_take.h"
#include "state/notifier.h"

// One packet as the audio source hands it out: interleaved samples in the
// capture format, frameCount frames of nChannels samples each.
struct CapturePacket {
  const std::uint8_t* data = nullptr;
  std::uint32_t frameCount = 0;
};

constexpr std::size_t DISPLAY_SAMPLES = 65536;  // leftDisplay's capacity; one frame
constexpr std::size_t MAX_QUEUED_FRAMES = 4;
constexpr auto ANALYSIS_INTERVAL = std::chrono::milliseconds(200);

bool IsFloat32Format(const CaptureFormat& format);
bool IsPcm16Format(const CaptureFormat& format);
std::int16_t FloatToPcm16(float x);

// Converts one packet, appends it to the take, feeds the display buffer and
// the analysis queue, publishes the level and posts WM_UPDATE_VISUALS.
// Returns false, having changed nothing, for a format that is neither 32-bit
// float nor 16-bit PCM. Recording thread only.
bool ProcessCapturePacket(const CapturePacket& packet, const CaptureFormat& format,
                          SampleTake& recordedSamples, WindowHandle window);
