#include "capture/packet_pipeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "state/recorder_state.h"

bool IsFloat32Format(const CaptureFormat& format) {
  if (format.wBitsPerSample != 32) return false;
  return format.wFormatTag == FORMAT_TAG_IEEE_FLOAT ||
         (format.wFormatTag == FORMAT_TAG_EXTENSIBLE &&
          format.SubFormat == SUBTYPE_IEEE_FLOAT);
}

bool IsPcm16Format(const CaptureFormat& format) {
  if (format.wBitsPerSample != 16) return false;
  return format.wFormatTag == FORMAT_TAG_PCM ||
         (format.wFormatTag == FORMAT_TAG_EXTENSIBLE &&
          format.SubFormat == SUBTYPE_PCM);
}

SampleEncoding SampleEncodingOf(const CaptureFormat& format) {
  const unsigned bits = format.wBitsPerSample;
  if (format.nChannels == 0 || format.nSamplesPerSec == 0 || bits == 0 || bits % 8 != 0) {
    return SampleEncoding::Unsupported;
  }
  if (std::uint32_t{format.nBlockAlign} != std::uint32_t{format.nChannels} * (bits / 8)) {
    return SampleEncoding::Unsupported;
  }
  // The file's byte rate, rate x channels x 2, must fit its 32 bits.
  if (std::uint64_t{format.nSamplesPerSec} * RecordedChannels(format) * 2 > UINT32_MAX) {
    return SampleEncoding::Unsupported;
  }
  const bool extensible = format.wFormatTag == FORMAT_TAG_EXTENSIBLE;
  if (extensible && format.wValidBitsPerSample > bits) return SampleEncoding::Unsupported;
  const bool isFloat = format.wFormatTag == FORMAT_TAG_IEEE_FLOAT ||
                       (extensible && format.SubFormat == SUBTYPE_IEEE_FLOAT);
  const bool isInteger = format.wFormatTag == FORMAT_TAG_PCM ||
                         (extensible && format.SubFormat == SUBTYPE_PCM);
  if (isFloat && bits == 32) return SampleEncoding::Float32;
  if (isFloat && bits == 64) return SampleEncoding::Float64;
  if (isInteger) {
    switch (bits) {
      case 8: return SampleEncoding::Unsigned8;
      case 16: return SampleEncoding::Int16;
      case 24: return SampleEncoding::Int24;
      case 32: return SampleEncoding::Int32;
      default: break;
    }
  }
  return SampleEncoding::Unsupported;
}

std::uint16_t RecordedChannels(const CaptureFormat& format) { return format.nChannels < 2 ? 1 : 2; }

std::int16_t FloatToPcm16(float x) {
  // A NaN fails both clamps; converting it to an integer would be undefined.
  if (std::isnan(x)) return 0;
  if (x > 1.0f) x = 1.0f;
  if (x < -1.0f) x = -1.0f;
  return static_cast<std::int16_t>(x * 32767.0f);  // truncates toward zero
}

namespace {

typedef float Floats4 __attribute__((vector_size(16)));
typedef std::int32_t Ints4 __attribute__((vector_size(16)));
typedef std::int16_t Shorts4 __attribute__((vector_size(8)));

// FloatToPcm16 on four samples at once, lane by lane the same steps.
Shorts4 FloatsToPcm16(Floats4 x) {
  const Floats4 one = Floats4{} + 1.0f;
  x = x > one ? one : x;
  x = x < -one ? -one : x;
  Floats4 scaled = x * 32767.0f;
  scaled = scaled == scaled ? scaled : Floats4{};  // NaN, still NaN after the clamps, gives 0
  return __builtin_convertvector(__builtin_convertvector(scaled, Ints4), Shorts4);
}

void ConvertFloats(const std::uint8_t* data, std::int16_t* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    Floats4 x;
    std::memcpy(&x, data + i * sizeof(float), sizeof x);
    const Shorts4 s = FloatsToPcm16(x);
    std::memcpy(out + i, &s, sizeof s);
  }
  for (; i < n; ++i) {
    float x;
    std::memcpy(&x, data + i * sizeof(float), sizeof(float));
    out[i] = ::FloatToPcm16(x);
  }
}

// One sample in each stored encoding to 16 bits. Integers keep their top 16
// bits; 8-bit samples are unsigned around 128.
std::int16_t ReadSample(const std::uint8_t* p, SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::Unsigned8:
      return static_cast<std::int16_t>((p[0] - 128) * 256);
    case SampleEncoding::Int16:
      return static_cast<std::int16_t>(p[0] | p[1] << 8);
    case SampleEncoding::Int24:
      return static_cast<std::int16_t>(p[1] | p[2] << 8);
    case SampleEncoding::Int32:
      return static_cast<std::int16_t>(p[2] | p[3] << 8);
    case SampleEncoding::Float32: {
      float x;
      std::memcpy(&x, p, sizeof x);
      return ::FloatToPcm16(x);
    }
    case SampleEncoding::Float64: {
      double x;
      std::memcpy(&x, p, sizeof x);
      // Clamped before narrowing: a double beyond float's range has no float.
      if (std::isnan(x)) return 0;
      return ::FloatToPcm16(static_cast<float>(std::clamp(x, -1.0, 1.0)));
    }
    case SampleEncoding::Unsupported:
      break;
  }
  return 0;
}

// The first `channels` samples of every frame, frames nBlockAlign apart.
void ConvertFrames(const std::uint8_t* data, const CaptureFormat& format, SampleEncoding encoding,
                   std::size_t frames, std::size_t channels, std::int16_t* out) {
  const std::size_t sampleBytes = format.wBitsPerSample / 8u;
  for (std::size_t f = 0; f < frames; ++f, data += format.nBlockAlign) {
    for (std::size_t c = 0; c < channels; ++c) *out++ = ReadSample(data + c * sampleBytes, encoding);
  }
}

// What a packet tells of its level, from one pass over its samples.
struct PacketLevels {
  float rms = 0.0f;           // each channel's RMS on the 0..1 scale, averaged over the channels
  std::int32_t largest = 0;   // the largest magnitude, 0..32768
};

// Each channel's sum of squares accumulates in single precision in sample
// order. Channels is a constant, so that the frame walk costs no division.
template <std::size_t Channels>
PacketLevels LevelsOf(std::span<const std::int16_t> samples) {
  float sums[Channels] = {};
  std::int32_t largest = 0;
  const std::size_t frames = samples.size() / Channels;
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t c = 0; c < Channels; ++c) {
      const std::int32_t s = samples[f * Channels + c];
      sums[c] += static_cast<float>(s * s);
      largest = std::max(largest, s < 0 ? -s : s);
    }
  }
  float rms = 0.0f;
  for (const float sum : sums) rms += std::sqrt(sum / static_cast<float>(frames)) / 32768.0f;
  return {rms / static_cast<float>(Channels), largest};
}

// Recording thread only: the largest magnitude of each of the last six
// quarter-seconds of the take, the current one included; the peak shown is
// the largest of them. Counted in frames, so that it is the file's.
struct PeakHold {
  std::array<std::int32_t, 6> quarters{};
  std::size_t current = 0;
  std::uint64_t framesInCurrent = 0;

  std::int32_t Add(std::int32_t largest, std::uint32_t frames, std::uint32_t rate) {
    quarters[current] = std::max(quarters[current], largest);
    framesInCurrent += frames;
    const std::uint64_t quarterFrames = std::max<std::uint32_t>(rate / 4, 1);
    while (framesInCurrent >= quarterFrames) {
      framesInCurrent -= quarterFrames;
      current = (current + 1) % quarters.size();
      quarters[current] = 0;
    }
    return *std::max_element(quarters.begin(), quarters.end());
  }
} peakHold;

// Hands the first channel to the spectrogram's analysis. Samples beyond
// what may wait are not kept: only a worker that has stopped working leaves
// that many.
void FeedSpectrogram(std::span<const std::int16_t> converted, std::size_t channels) {
  {
    std::lock_guard queueLock(queueMutex);
    const std::size_t frames = converted.size() / channels;
    const std::size_t room = SPECTROGRAM_PENDING - std::min(spectrogramSamples.size(), SPECTROGRAM_PENDING);
    try {
      for (std::size_t f = 0; f < std::min(frames, room); ++f) spectrogramSamples.push_back(converted[f * channels]);
    } catch (const std::bad_alloc&) {
      // The spectrogram misses some of this packet; the take has all of it.
    }
  }
  queueSignal.notify_one();
}

// Appends the first channel to leftDisplay, trims it to the newest samples
// and queues an analysis frame when one is due. Caller holds displayMutex.
void FeedDisplay(std::span<const std::int16_t> converted, std::size_t channels) {
  try {
    if (channels == 2) {
      for (std::size_t i = 0; i + 1 < converted.size(); i += 2) leftDisplay.push_back(converted[i]);
    } else {
      leftDisplay.insert(leftDisplay.end(), converted.begin(), converted.end());
    }
  } catch (const std::bad_alloc&) {
    // The waveform misses some of this packet; the take has all of it.
  }
  if (leftDisplay.size() > DISPLAY_SAMPLES) {
    leftDisplay.erase(leftDisplay.begin(),
                      leftDisplay.begin() + static_cast<std::ptrdiff_t>(leftDisplay.size() - DISPLAY_SAMPLES));
  }

  if (spectrogramFrameMultiple.load() != 0) FeedSpectrogram(converted, channels);

  const auto now = std::chrono::steady_clock::now();
  if (leftDisplay.size() < DISPLAY_SAMPLES || now - lastAnalysisTime < ANALYSIS_INTERVAL) return;

  std::lock_guard queueLock(queueMutex);
  // A frame offered to a full queue would be dropped: it is not even copied.
  if (frameQueue.size() < MAX_QUEUED_FRAMES) {
    try {
      frameQueue.emplace(leftDisplay.end() - static_cast<std::ptrdiff_t>(DISPLAY_SAMPLES), leftDisplay.end());
    } catch (const std::bad_alloc&) {
      // No memory for the frame: the spectrum skips it, the recording goes
      // on, and lastAnalysisTime stays, so the next packet tries again.
      return;
    }
    queueSignal.notify_one();
    lastAnalysisTime = now;
  }
  // Otherwise lastAnalysisTime stays, so the next packet tries again.
}

}  // namespace

void StartLevelMeter() {
  peakHold = {};
  peakLevel.store(0.0f);
  clippedPackets.store(0);
}

bool ProcessCapturePacket(const CapturePacket& packet, const CaptureFormat& format,
                          SampleTake& recordedSamples, WindowHandle window) {
  const SampleEncoding encoding = SampleEncodingOf(format);
  if (encoding == SampleEncoding::Unsupported) return false;
  const std::size_t channels = RecordedChannels(format);
  const std::size_t n = std::size_t{packet.frameCount} * channels;

  std::vector<std::int16_t> converted(n);
  // Mono and stereo 32-bit float and 16-bit packets, what nearly every
  // device delivers, are already laid out as the take: no per-frame walk.
  const bool packed = format.nChannels == channels;
  if (packed && encoding == SampleEncoding::Float32) {
    ConvertFloats(packet.data, converted.data(), n);
  } else if (packed && encoding == SampleEncoding::Int16) {
    if (n > 0) std::memcpy(converted.data(), packet.data, n * sizeof(std::int16_t));
  } else {
    ConvertFrames(packet.data, format, encoding, packet.frameCount, channels, converted.data());
  }
  recordedSamples.Append(converted);

  {
    std::lock_guard displayLock(displayMutex);
    FeedDisplay(converted, channels);
  }

  if (!converted.empty()) {
    const PacketLevels levels = channels == 2 ? LevelsOf<2>(converted) : LevelsOf<1>(converted);
    levelValue.store(levels.rms);
    if (levelValue.load() > 1.0f) levelValue.store(1.0f);
    peakLevel.store(static_cast<float>(peakHold.Add(levels.largest, packet.frameCount, format.nSamplesPerSec)) /
                    32768.0f);
    if (levels.largest >= CLIP_MAGNITUDE) clippedPackets.store(clippedPackets.load() + 1);
  }

  PostNotification(window, WM_UPDATE_VISUALS);
  return true;
}
