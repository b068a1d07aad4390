#include "capture/packet_pipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "state/recorder_state.h"
#include "support/failing_allocation.h"
#include "support/scripted_audio_source.h"
#include "support/test_platform.h"

namespace {

using namespace std::chrono_literals;

class PacketPipeline : public ::testing::Test {
 protected:
  void SetUp() override { ResetSharedState(); }

  bool Process(const ScriptedAudioSource::Packet& packet, const CaptureFormat& format) {
    return ProcessCapturePacket({packet.bytes.data(), packet.frames}, format, take, TestWindow());
  }

  std::vector<std::int16_t> Take() const {
    std::vector<std::int16_t> all;
    for (std::uint64_t at = take.Start(); at < take.size();) {
      const auto part = take.Samples(at, take.size());
      all.insert(all.end(), part.begin(), part.end());
      at += part.size();
    }
    return all;
  }

  static std::vector<std::int16_t> Display() { return {leftDisplay.begin(), leftDisplay.end()}; }

  static void MakeAnalysisDue() {
    std::lock_guard lock(displayMutex);
    lastAnalysisTime = std::chrono::steady_clock::now() - 1s;
  }

  static std::size_t Queued() {
    std::lock_guard lock(queueMutex);
    return frameQueue.size();
  }

  SampleTake take;
};

// One sample at a time, and in a packet, whose samples are converted four at
// a time with the rest one by one: every input gives the same on each path.
TEST_F(PacketPipeline, FloatToPcm16ClampsScalesAndTruncatesOnEveryPath) {
  const float tiny = 1.0f / 32767.0f;
  const struct {
    float in;
    std::int16_t out;
  } cases[] = {
      {1.5f, 32767},
      {-1.5f, -32767},
      {1.0f, 32767},
      {-1.0f, -32767},
      {0.5f, 16383},
      {-0.5f, -16383},
      {std::nextafter(tiny, 0.0f), 0},
      {-std::nextafter(tiny, 0.0f), 0},
      {0.0f, 0},
      {std::numeric_limits<float>::infinity(), 32767},
      {-std::numeric_limits<float>::infinity(), -32767},
      {std::numeric_limits<float>::quiet_NaN(), 0},
      {-std::numeric_limits<float>::quiet_NaN(), 0},
  };
  std::vector<float> packet;
  std::vector<std::int16_t> expected;
  for (int round = 0; round < 2; ++round) {  // 26 samples: six groups of four, and two
    for (const auto& c : cases) {
      EXPECT_EQ(FloatToPcm16(c.in), c.out) << "input " << c.in;
      packet.push_back(c.in);
      expected.push_back(c.out);
    }
  }
  ASSERT_TRUE(Process(FloatPacket(packet, 1), FloatFormat(1, 48000)));
  EXPECT_EQ(Take(), expected);
}


TEST(CaptureFormatTests, EncodingsAndUntrustworthyRecords) {
  using E = SampleEncoding;
  auto extensible = [](const FormatGuid& sub, std::uint16_t bits, std::uint16_t validBits = 0) {
    CaptureFormat f = FormatOf(FORMAT_TAG_EXTENSIBLE, 2, 48000, bits);
    f.SubFormat = sub;
    f.wValidBitsPerSample = validBits;
    return f;
  };
  auto plain = [](std::uint16_t tag, std::uint16_t bits) { return FormatOf(tag, 2, 48000, bits); };
  auto with = [](CaptureFormat f, auto change) {
    change(f);
    return f;
  };
  FormatGuid otherGuid = SUBTYPE_IEEE_FLOAT;
  otherGuid[15] ^= 1;  // last byte differs
  const CaptureFormat stereo16 = plain(FORMAT_TAG_PCM, 16);
  const struct {
    CaptureFormat format;
    bool isFloat;
    bool isPcm;
    SampleEncoding encoding;
  } cases[] = {
      {plain(FORMAT_TAG_IEEE_FLOAT, 32), true, false, E::Float32},
      {plain(FORMAT_TAG_PCM, 16), false, true, E::Int16},
      {plain(FORMAT_TAG_PCM, 32), false, false, E::Int32},
      {plain(FORMAT_TAG_PCM, 24), false, false, E::Int24},
      {plain(FORMAT_TAG_PCM, 8), false, false, E::Unsigned8},
      {plain(FORMAT_TAG_IEEE_FLOAT, 64), false, false, E::Float64},
      {plain(FORMAT_TAG_IEEE_FLOAT, 16), false, false, E::Unsupported},
      {plain(2, 16), false, false, E::Unsupported},  // ADPCM: compressed
      {extensible(SUBTYPE_IEEE_FLOAT, 32), true, false, E::Float32},
      {extensible(SUBTYPE_IEEE_FLOAT, 24), false, false, E::Unsupported},
      {extensible(SUBTYPE_PCM, 16), false, true, E::Int16},
      {extensible(SUBTYPE_PCM, 24), false, false, E::Int24},
      {extensible(SUBTYPE_PCM, 32, 24), false, false, E::Int32},
      {extensible(SUBTYPE_PCM, 16, 17), false, true, E::Unsupported},
      {extensible(otherGuid, 32), false, false, E::Unsupported},
      {plain(FORMAT_TAG_PCM, 12), false, false, E::Unsupported},
      {with(stereo16, [](CaptureFormat& f) { f.nChannels = 0; }), false, true, E::Unsupported},
      {with(stereo16, [](CaptureFormat& f) { f.nSamplesPerSec = 0; }), false, true, E::Unsupported},
      {with(stereo16, [](CaptureFormat& f) { f.nBlockAlign = 2; }), false, true, E::Unsupported},
      {with(stereo16, [](CaptureFormat& f) { f.nBlockAlign = 6; }), false, true, E::Unsupported},
      // The file's byte rate, rate x 2 bytes x recorded channels, must fit 32 bits.
      {with(stereo16, [](CaptureFormat& f) { f.nSamplesPerSec = 1073741823; }), false, true, E::Int16},
      {with(stereo16, [](CaptureFormat& f) { f.nSamplesPerSec = 1073741824; }), false, true, E::Unsupported},
      {FormatOf(FORMAT_TAG_PCM, 1, 2147483647, 16), false, true, E::Int16},
      {FormatOf(FORMAT_TAG_PCM, 1, 2147483648u, 16), false, true, E::Unsupported},
      {FormatOf(FORMAT_TAG_PCM, 6, 1073741824, 16), false, true, E::Unsupported},
  };
  int ran = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(IsFloat32Format(c.format), c.isFloat) << "case " << ran;
    EXPECT_EQ(IsPcm16Format(c.format), c.isPcm) << "case " << ran;
    EXPECT_EQ(SampleEncodingOf(c.format), c.encoding) << "case " << ran;
    ++ran;
  }
  EXPECT_EQ(ran, 25);
}

// Every integer keeps its top 16 bits, 8-bit re-centred; 64-bit floats are
// clamped and truncated as 32-bit ones are. Little-endian bytes throughout.
TEST_F(PacketPipeline, ConvertsEveryIntegerAndFloatEncoding) {
  auto bytesOf = [](const auto& values) {
    std::vector<std::uint8_t> bytes(values.size() * sizeof(values[0]));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::uint16_t tag;
    std::uint16_t bits;
    std::vector<std::uint8_t> bytes;
    std::vector<std::int16_t> expected;
  } cases[] = {
      {FORMAT_TAG_PCM, 8, {0x00, 0x80, 0xFF, 0x01}, {-32768, 0, 32512, -32512}},
      {FORMAT_TAG_PCM, 24, {0x11, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F},
       {0x1234, -1, -32768, 32767}},
      {FORMAT_TAG_PCM, 32, bytesOf(std::vector<std::int32_t>{0x12345678, -1, INT32_MIN, INT32_MAX}),
       {0x1234, -1, -32768, 32767}},
      {FORMAT_TAG_IEEE_FLOAT, 64, bytesOf(std::vector<double>{0.5, -1.5, 1e300, nan}), {16383, -32767, 32767, 0}},
      {FORMAT_TAG_IEEE_FLOAT, 64, bytesOf(std::vector<double>{-1e-300, 0.999999999, -0.25, 3e38}),
       {0, 32767, -8191, 32767}},
  };
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(ran);
    take = SampleTake();
    ASSERT_TRUE(Process({c.bytes, 2, 0}, FormatOf(c.tag, 2, 48000, c.bits)));
    EXPECT_EQ(Take(), c.expected);
    ++ran;
  }
  EXPECT_EQ(ran, 5);
}

// A device with more channels than the take: each frame gives its first
// two samples, read at the device's frame size; the rest reach nothing.
TEST_F(PacketPipeline, MultichannelFramesKeepTheirFirstTwoChannels) {
  for (std::uint16_t channels : {std::uint16_t{3}, std::uint16_t{4}, std::uint16_t{6}, std::uint16_t{8}}) {
    SCOPED_TRACE(channels);
    ResetSharedState();
    take = SampleTake();
    const std::uint32_t frames = 5;
    std::vector<std::uint8_t> bytes;
    std::vector<std::int16_t> expected;
    for (std::uint32_t f = 0; f < frames; ++f) {
      for (std::uint16_t c = 0; c < channels; ++c) {
        // Channels past the first two are full scale: they must not reach the level.
        const auto value = static_cast<std::int16_t>(c < 2 ? static_cast<int>(100 * (f + 1) + c) : -32768);
        bytes.push_back(0x5A);  // the byte a 24-bit sample drops
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
        if (c < 2) expected.push_back(value);
      }
    }
    ASSERT_TRUE(Process({bytes, frames, 0}, FormatOf(FORMAT_TAG_PCM, channels, 48000, 24)));
    EXPECT_EQ(Take(), expected);
    EXPECT_EQ(Display(), (std::vector<std::int16_t>{100, 200, 300, 400, 500}));
    EXPECT_LT(levelValue.load(), 0.02f);
  }
}

TEST_F(PacketPipeline, StereoFloatPacketFeedsTakeAndFirstChannel) {
  // Multiples of 1/4 scale exactly: v * 32767 = k * 8191.75, truncated.
  const std::vector<float> interleaved = {0.25f, -0.25f, 0.5f, 0.75f, -0.75f, 1.0f, 0.0f, -1.0f};
  const std::vector<std::int16_t> expected = {8191, -8191, 16383, 24575, -24575, 32767, 0, -32767};
  ASSERT_TRUE(Process(FloatPacket(interleaved, 2), FloatFormat(2, 48000)));
  EXPECT_EQ(Take(), expected);
  EXPECT_EQ(Display(), (std::vector<std::int16_t>{8191, 16383, -24575, 0}));
  ASSERT_EQ(testNotifier.Posted().size(), 1u);
  EXPECT_EQ(testNotifier.Posted()[0].message, WM_UPDATE_VISUALS);
  EXPECT_EQ(testNotifier.Posted()[0].target, TestWindow());
  EXPECT_TRUE(spectrogramSamples.empty()) << "fed while the spectrogram is not shown";

  // While it is shown, the spectrogram has the first channel of every
  // packet, up to what may wait for its analysis.
  spectrogramFrameMultiple.store(1);
  ASSERT_TRUE(Process(FloatPacket(interleaved, 2), FloatFormat(2, 48000)));
  ASSERT_TRUE(Process(FloatPacket(interleaved, 2), FloatFormat(2, 48000)));
  EXPECT_EQ(spectrogramSamples, (std::vector<std::int16_t>{8191, 16383, -24575, 0, 8191, 16383, -24575, 0}));
  spectrogramSamples.assign(SPECTROGRAM_PENDING - 3, 0);
  ASSERT_TRUE(Process(FloatPacket(interleaved, 2), FloatFormat(2, 48000)));
  ASSERT_EQ(spectrogramSamples.size(), SPECTROGRAM_PENDING);
  EXPECT_EQ(spectrogramSamples.back(), -24575);
}

TEST_F(PacketPipeline, MonoPcmPacketIsKeptBitForBit) {
  const std::vector<std::int16_t> samples = {-32768, 32767, 0, -1, 1, 12345, -12345};
  ASSERT_TRUE(Process(Pcm16Packet(samples, 1), Pcm16Format(1, 44100)));
  ASSERT_TRUE(Process(Pcm16Packet(samples, 1), Pcm16Format(1, 44100)));
  std::vector<std::int16_t> twice = samples;
  twice.insert(twice.end(), samples.begin(), samples.end());
  EXPECT_EQ(Take(), twice);
  EXPECT_EQ(Display(), twice);
}

TEST_F(PacketPipeline, DisplayKeepsTheNewestSamplesInOrder) {
  // 70 packets of 1000 samples, each sample its own index.
  std::int16_t next = 0;
  for (int p = 0; p < 70; ++p) {
    std::vector<std::int16_t> samples(1000);
    for (auto& s : samples) s = next++;
    ASSERT_TRUE(Process(Pcm16Packet(samples, 1), Pcm16Format(1, 48000)));
    ASSERT_LE(leftDisplay.size(), DISPLAY_SAMPLES);
  }
  ASSERT_EQ(leftDisplay.size(), DISPLAY_SAMPLES);
  for (std::size_t i = 0; i < DISPLAY_SAMPLES; ++i) {
    ASSERT_EQ(leftDisplay[i], static_cast<std::int16_t>(70000 - 65536 + i)) << i;
  }
}

TEST_F(PacketPipeline, NoFrameUntilTheDisplayIsFullOrWhenTheFrameFindsNoMemory) {
  MakeAnalysisDue();
  std::vector<std::int16_t> samples(65535, 7);
  ASSERT_TRUE(Process(Pcm16Packet(samples, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 0u);
  // The frame is dropped; the packet is recorded, and the clock stays for
  // the next packet to try again.
  const auto due = lastAnalysisTime;
  FailAllocations(1, DISPLAY_SAMPLES * sizeof(std::int16_t));
  ASSERT_TRUE(Process(Pcm16Packet({8}, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(lastAnalysisTime, due);
  EXPECT_EQ(take.size(), 65536u);
  ASSERT_TRUE(Process(Pcm16Packet({9}, 1), Pcm16Format(1, 48000)));
  ASSERT_EQ(Queued(), 1u);
  std::lock_guard lock(queueMutex);
  const AnalysisFrame& frame = frameQueue.front();
  ASSERT_EQ(frame.size(), DISPLAY_SAMPLES);
  EXPECT_EQ(frame.front(), 7);
  EXPECT_EQ(frame.back(), 9);
}

TEST_F(PacketPipeline, FramesComeAtMostEvery200Milliseconds) {
  MakeAnalysisDue();
  std::vector<std::int16_t> full(65536, 1);
  ASSERT_TRUE(Process(Pcm16Packet(full, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 1u);
  const auto queuedAt = lastAnalysisTime;
  ASSERT_TRUE(Process(Pcm16Packet({1, 2}, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 1u) << "a second frame within 200 ms";
  EXPECT_EQ(lastAnalysisTime, queuedAt);

  // Past half the interval, not all of it.
  {
    std::lock_guard lock(displayMutex);
    lastAnalysisTime = std::chrono::steady_clock::now() - 110ms;
  }
  ASSERT_TRUE(Process(Pcm16Packet({2}, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 1u) << "a second frame 110 ms after the first";

  {
    std::lock_guard lock(displayMutex);
    lastAnalysisTime = std::chrono::steady_clock::now() - 200ms;
  }
  ASSERT_TRUE(Process(Pcm16Packet({3}, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 2u);
}

TEST_F(PacketPipeline, FullQueueDropsTheFrameAndKeepsTheClock) {
  std::vector<std::int16_t> full(65536, 1);
  for (int i = 0; i < 4; ++i) {
    MakeAnalysisDue();
    ASSERT_TRUE(Process(Pcm16Packet(full, 1), Pcm16Format(1, 48000)));
  }
  ASSERT_EQ(Queued(), 4u);

  MakeAnalysisDue();
  const auto before = lastAnalysisTime;
  ASSERT_TRUE(Process(Pcm16Packet({2}, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 4u);
  EXPECT_EQ(lastAnalysisTime, before);

  {
    std::lock_guard lock(queueMutex);
    frameQueue.pop();
  }
  // The interval still counts from the last frame queued, long ago: the very
  // next packet queues one.
  ASSERT_TRUE(Process(Pcm16Packet({3}, 1), Pcm16Format(1, 48000)));
  EXPECT_EQ(Queued(), 4u);
  EXPECT_GT(lastAnalysisTime, before);
  std::lock_guard lock(queueMutex);
  EXPECT_EQ(frameQueue.back().back(), 3);
}

TEST_F(PacketPipeline, Levels) {
  const struct {
    std::vector<std::int16_t> samples;
    unsigned channels;
    float level;
  } cases[] = {
      {std::vector<std::int16_t>(480, -32768), 1, 1.0f},
      {std::vector<std::int16_t>(480, 0), 1, 0.0f},
      {{-32768, 0, -32768, 0, -32768, 0}, 2, 0.5f},
      {{16384, -16384, 16384, -16384}, 1, 0.5f},
      {{-32768, -32768, -32768, -32768}, 2, 1.0f},
  };
  int ran = 0;
  for (const auto& c : cases) {
    levelValue.store(-1.0f);
    ASSERT_TRUE(Process(Pcm16Packet(c.samples, c.channels), Pcm16Format(static_cast<std::uint16_t>(c.channels), 48000)));
    EXPECT_EQ(levelValue.load(), c.level) << "case " << ran;
    ++ran;
  }
  EXPECT_EQ(ran, 5);
}

// A packet's largest magnitude is held for a second and a half of the take
// (150 packets of 480 frames at 48 kHz), counted in frames whatever the
// channels; a packet with a sample within 0.01 dB of full scale clips, and
// counts once.
TEST_F(PacketPipeline, PeakIsHeldAndClippedPacketsAreCounted) {
  ASSERT_TRUE(Process(Pcm16Packet({0, 32733, 0, 0}, 2), Pcm16Format(2, 48000)));
  EXPECT_EQ(std::pair(peakLevel.load(), clippedPackets.load()), std::pair(32733.0f / 32768.0f, 0u));
  ASSERT_TRUE(Process(Pcm16Packet({0, 0, -32734, 0}, 2), Pcm16Format(2, 48000)));
  EXPECT_EQ(std::pair(peakLevel.load(), clippedPackets.load()), std::pair(32734.0f / 32768.0f, 1u));
  for (const std::uint16_t channels : {std::uint16_t{1}, std::uint16_t{2}}) {
    StartLevelMeter();
    for (int p = 0; p <= 150; ++p) {
      EXPECT_EQ(peakLevel.load(), p == 0 ? 0.0f : p < 150 ? 0.5f : 8.0f / 32768.0f) << channels << " " << p;
      const std::vector<std::int16_t> samples(480u * channels, p == 0 ? 16384 : p == 150 ? -32768 : 8);
      ASSERT_TRUE(Process(Pcm16Packet(samples, channels), Pcm16Format(channels, 48000)));
    }
    EXPECT_EQ(std::pair(peakLevel.load(), clippedPackets.load()), std::pair(1.0f, 1u));
  }
}

TEST_F(PacketPipeline, EmptyPacketOnlyPostsTheRepaint) {
  levelValue.store(0.25f);
  ASSERT_TRUE(Process(Pcm16Packet({}, 2), Pcm16Format(2, 48000)));
  EXPECT_TRUE(take.empty());
  EXPECT_EQ(levelValue.load(), 0.25f);
  EXPECT_EQ(testNotifier.Count(WM_UPDATE_VISUALS), 1u);
}

TEST_F(PacketPipeline, RefusedFormatChangesNothing) {
  // A frame size that disagrees with two 16-bit channels would be read past the packet.
  CaptureFormat disagreeing = Pcm16Format(2, 48000);
  disagreeing.nBlockAlign = 8;
  levelValue.store(0.25f);
  MakeAnalysisDue();
  std::vector<std::uint8_t> bytes(4 * 65536, 0x7F);
  EXPECT_FALSE(ProcessCapturePacket({bytes.data(), 65536}, disagreeing, take, TestWindow()));
  EXPECT_TRUE(take.empty());
  EXPECT_TRUE(leftDisplay.empty());
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(levelValue.load(), 0.25f);
  EXPECT_TRUE(testNotifier.Posted().empty());
}

}  // namespace
