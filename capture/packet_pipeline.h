#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "capture/capture_format.h"
#include "capture/sample_take.h"
#include "state/notifier.h"

// One packet as the audio source hands it out: interleaved samples in the
// capture format, frameCount frames of nBlockAlign bytes each.
struct CapturePacket {
  const std::uint8_t* data = nullptr;
  std::uint32_t frameCount = 0;
};

constexpr std::size_t DISPLAY_SAMPLES = 65536;  // leftDisplay's capacity; one frame
constexpr std::size_t MAX_QUEUED_FRAMES = 4;
constexpr auto ANALYSIS_INTERVAL = std::chrono::milliseconds(200);

// A sample at least this far from zero is at full scale: within 0.01 dB of
// it. Not the rails themselves: the audio engine hands samples over in
// float, and a source at its rail arrives as 0.99997, 32766 in 16 bits;
// a float of 0.999 converts to 32734.
constexpr std::int32_t CLIP_MAGNITUDE = 32734;

bool IsFloat32Format(const CaptureFormat& format);
bool IsPcm16Format(const CaptureFormat& format);
// Unsupported for a record that cannot be trusted (no channels, no rate, a
// block alignment other than channels x container size, more valid bits
// than the container holds, a rate whose WAV byte rate 32 bits cannot hold)
// and for any encoding but integer or float PCM.
SampleEncoding SampleEncodingOf(const CaptureFormat& format);
// Channels the take holds: the device's first one, or its first two.
std::uint16_t RecordedChannels(const CaptureFormat& format);
std::int16_t FloatToPcm16(float x);

// A new take's meter: no peak held, no packet clipped. Recording thread,
// before its first packet.
void StartLevelMeter();

// Converts one packet to 16 bits, keeping the device's first one or two
// channels, appends it to the take, feeds the display buffer and the
// analysis queue, publishes the level, the peak held and the clipped
// packets, and posts WM_UPDATE_VISUALS. Returns false, having changed
// nothing, for an unsupported format. Recording thread only. Throws
// std::bad_alloc, having changed nothing, when the packet finds no memory;
// the display and a spectrum frame that find none go without.
bool ProcessCapturePacket(const CapturePacket& packet, const CaptureFormat& format,
                          SampleTake& recordedSamples, WindowHandle window);
