// Side-by-side timings of the analysis, the packet pipeline and the panels,
// with FFTW's single-precision 65536-point transforms as the yardstick. Every
// result is also printed as a ratio to FFTW's complex transform, measured in
// the same run.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "analysis/fft_kernels.h"
#include "analysis/spectrum_analyser.h"
#include "capture/audio_source.h"
#include "capture/packet_pipeline.h"
#include "display/panels.h"
#include "display/spectrogram_view.h"
#include "display/spectrum_view.h"
#include "state/recorder_state.h"
#include "support/reference_analysis.h"

// The platform functions, as cheap as they can be: posting is not measured.
void PostNotification(WindowHandle, unsigned) {}
std::unique_ptr<AudioSource> CreateDefaultAudioSource() { return nullptr; }

namespace {

constexpr const char* YARDSTICK = "FFTW_c2c_forward_out_of_place";

std::vector<std::int16_t> ToneFrame() {
  std::vector<std::int16_t> frame(FFT_SIZE);
  for (std::size_t i = 0; i < FFT_SIZE; ++i) {
    frame[i] = static_cast<std::int16_t>(
        std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000.0)));
  }
  return frame;
}

std::vector<float> RandomFloats(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<float> values(n);
  for (float& v : values) v = unit(random);
  return values;
}

const char* IsaName(AnalysisIsa isa) {
  switch (isa) {
    case AnalysisIsa::Portable: return "portable";
    case AnalysisIsa::Sse2: return "sse2";
    case AnalysisIsa::Avx2: return "avx2";
    case AnalysisIsa::Avx512: return "avx512";
  }
  return "?";
}

void AnalyseFrameBench(benchmark::State& state, AnalysisIsa isa) {
  SetActiveIsa(isa);
  const auto frame = ToneFrame();
  for (auto _ : state) AnalyseFrame(frame.data(), frame.size(), 48000);
  SetActiveIsa(BestIsa());
}

// Transforms a fresh copy of the same random input each time; the copy is
// not timed. The parts lie as the analysis lays out its own: on 64-byte
// boundaries, the imaginary parts 10 KiB past the end of the real ones
// (FFTW's arrays, too, come from its own aligned allocator). Left to the allocator, two arrays
// start 16 bytes past a page boundary each and the timings split in two
// groups, run by run, by where the arrays happened to land.
void TimeTransform(benchmark::State& state, void (*transform)(std::span<float>, std::span<float>)) {
  const auto inputRe = RandomFloats(FFT_SIZE, 1), inputIm = RandomFloats(FFT_SIZE, 2);
  constexpr std::size_t IM_OFFSET = FFT_SIZE + 2560;
  float* storage = fftwf_alloc_real(IM_OFFSET + FFT_SIZE + 16);
  float* re = storage + (16 - reinterpret_cast<std::uintptr_t>(storage) / sizeof(float) % 16) % 16;
  float* im = re + IM_OFFSET;
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(inputRe.begin(), inputRe.end(), re);
    std::copy(inputIm.begin(), inputIm.end(), im);
    state.ResumeTiming();
    transform({re, FFT_SIZE}, {im, FFT_SIZE});
    benchmark::DoNotOptimize(re);
  }
  fftwf_free(storage);
}

void FftInPlaceBench(benchmark::State& state, AnalysisIsa isa) {
  SetActiveIsa(isa);
  TimeTransform(state, FftInPlace);
  SetActiveIsa(BestIsa());
}

void ReferenceFftBench(benchmark::State& state) { TimeTransform(state, ReferenceFftInPlace); }

void ReferenceAnalyseBench(benchmark::State& state) {
  EnsureWindowTable();
  const auto frame = ToneFrame();
  for (auto _ : state) {
    auto result = ReferenceAnalyseFrame(frame.data(), frame.size(), 48000);
    benchmark::DoNotOptimize(result.spectrum.data());
  }
}

// Fills the input after planning (FFTW_MEASURE overwrites it), then times
// the plan.
void TimePlan(benchmark::State& state, fftwf_plan plan, float* in, std::size_t floats, unsigned seed) {
  const auto values = RandomFloats(floats, seed);
  std::memcpy(in, values.data(), floats * sizeof(float));
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
}

void FftwComplexBench(benchmark::State& state) {
  auto* in = fftwf_alloc_complex(FFT_SIZE);
  auto* out = fftwf_alloc_complex(FFT_SIZE);
  TimePlan(state, fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_FORWARD, FFTW_MEASURE),
           reinterpret_cast<float*>(in), 2 * FFT_SIZE, 3);
  fftwf_free(in);
  fftwf_free(out);
}

void FftwRealBench(benchmark::State& state) {
  float* in = fftwf_alloc_real(FFT_SIZE);
  auto* out = fftwf_alloc_complex(FFT_SIZE / 2 + 1);
  TimePlan(state, fftwf_plan_dft_r2c_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_MEASURE), in, FFT_SIZE, 4);
  fftwf_free(in);
  fftwf_free(out);
}

// Packets as a live device hands them out, one after another into one
// take, started afresh every `packetsPerTake` packets. Short takes reuse
// memory the process has already touched: that is the pipeline's own cost.
// Long takes keep asking the system for new pages, whose first touch (a page
// fault) is part of what a long recording costs.
template <typename Sample>
void PacketBench(benchmark::State& state, CaptureFormat format, std::uint32_t frames, std::vector<Sample> data) {
  const auto packetsPerTake = static_cast<std::size_t>(state.range(0));
  auto take = std::make_unique<SampleTake>();
  std::size_t packets = 0;
  for (auto _ : state) {
    ProcessCapturePacket({reinterpret_cast<const std::uint8_t*>(data.data()), frames}, format, *take, nullptr);
    if (++packets % packetsPerTake == 0) {
      state.PauseTiming();
      take = std::make_unique<SampleTake>();
      std::lock_guard lock(queueMutex);
      while (!frameQueue.empty()) frameQueue.pop();
      state.ResumeTiming();
    }
  }
}

// A device's float mix format, as the shared-mode engine reports it.
CaptureFormat FloatMixFormat(std::uint16_t channels) {
  CaptureFormat format;
  format.wFormatTag = FORMAT_TAG_EXTENSIBLE;
  format.SubFormat = SUBTYPE_IEEE_FLOAT;
  format.nChannels = channels;
  format.nSamplesPerSec = 48000;
  format.nBlockAlign = static_cast<std::uint16_t>(4 * channels);
  format.wBitsPerSample = 32;
  return format;
}

void StereoFloatPacketBench(benchmark::State& state) {
  PacketBench(state, FloatMixFormat(2), 480, RandomFloats(2 * 480, 5));
}

// A six-channel device: the first two channels picked out of every frame.
void SixChannelFloatPacketBench(benchmark::State& state) {
  PacketBench(state, FloatMixFormat(6), 480, RandomFloats(6 * 480, 5));
}

void MonoPcmPacketBench(benchmark::State& state) {
  CaptureFormat format;
  format.wFormatTag = FORMAT_TAG_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = 44100;
  format.nBlockAlign = 2;
  format.wBitsPerSample = 16;
  std::vector<std::int16_t> samples(441);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(i * 97);
  PacketBench(state, format, 441, samples);
}

constexpr PanelRect LEVEL_RECT{0, 0, 340, 20};
constexpr PanelRect PANEL_RECT{0, 0, 340, 40};

// What one round of paints computes: the three panels from full shared
// buffers, locks and copies included.
void PanelsBench(benchmark::State& state) {
  const auto frame = ToneFrame();
  std::vector<float> values(SPECTRUM_BINS);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i % 1000) / 1000.0f;
  levelValue.store(0.5f);
  peakFrequencyHz.store(999.8f);
  leftDisplay.assign(frame.begin(), frame.end());
  spectrum = values;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CurrentLevelPanel(LEVEL_RECT));
    benchmark::DoNotOptimize(CurrentWaveformPanel(PANEL_RECT));
    benchmark::DoNotOptimize(CurrentSpectrumPanel(PANEL_RECT));
  }
  leftDisplay.clear();
  spectrum.clear();
}

// The spectrum panel alone from a full spectrum: the compact view at its
// first size, and the large one at 1920 x 1000, whose geometry (the axes,
// their ticks and the map of bins to columns) is made once for its size;
// remade, it is made again for every paint, as two sizes in turn need.
void SpectrumPanelBench(benchmark::State& state) {
  std::vector<float> values(SPECTRUM_BINS);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i % 1000) / 1000.0f;
  spectrum = values;
  spectrumLevels = {0.25f, 440.0, -12.0, 48000.0};
  peakFrequencyHz.store(440.0f);
  SpectrumView view;
  const int which = static_cast<int>(state.range(0));
  std::size_t paints = 0;
  for (auto _ : state) {
    if (which == 0) {
      benchmark::DoNotOptimize(CurrentSpectrumPanel(PANEL_RECT));
    } else {
      const PanelRect large{0, 0, 1920, which == 2 && paints++ % 2 != 0 ? 999 : 1000};
      benchmark::DoNotOptimize(view.DrawCurrent(large, {}, {7, 15}, 96));
    }
  }
  spectrum.clear();
}

// The spectrogram at 1920 x 1000: a paint that takes the frames of one
// new column and draws the view, after 100 or 2000 columns of history.
void SpectrogramPanelBench(benchmark::State& state) {
  SpectrumChoices choices;
  choices.spectrogram = true;
  const PanelRect large{0, 0, 1920, 1000};
  constexpr std::uint32_t POINTS = 256, HOP = POINTS / 2;
  SpectrogramColumn frame{0, POINTS, 48000.0, std::vector<float>(POINTS / 2)};
  for (std::size_t k = 0; k < frame.dbfs.size(); ++k) frame.dbfs[k] = -100.0f + static_cast<float>(k % 90);
  SpectrogramView view;
  std::uint64_t hop = 0;
  const auto framesUpTo = [&](double seconds) {
    std::vector<SpectrogramColumn> frames;
    for (; static_cast<double>(hop * HOP) < seconds * 48000.0; ++hop) {
      frames.push_back(frame);
      frames.back().firstSample = hop * HOP;
    }
    return frames;
  };
  view.Draw(large, {}, {}, choices, {7, 15}, 96);  // the geometry, to know a column's time
  const double columnSeconds = 10.0 / 1829.0;     // the plot is 1829 pixels wide at this size
  double seconds = static_cast<double>(state.range(0)) * columnSeconds;
  view.Draw(large, framesUpTo(seconds), {}, choices, {7, 15}, 96);
  for (auto _ : state) {
    state.PauseTiming();
    seconds += columnSeconds;
    std::vector<SpectrogramColumn> next = framesUpTo(seconds);
    state.ResumeTiming();
    benchmark::DoNotOptimize(view.Draw(large, std::move(next), {}, choices, {7, 15}, 96));
  }
}

double TimeUnitSeconds(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond: return 1e9;
    case benchmark::kMicrosecond: return 1e6;
    case benchmark::kMillisecond: return 1e3;
    case benchmark::kSecond: return 1.0;
  }
  return 1e9;
}

// Prints Google Benchmark's own lines, then a table of every benchmark as
// a ratio to FFTW's complex transform.
// Names in the order they were registered: the order of the table.
std::vector<std::string> registered;

void Register(const std::string& name, void (*bench)(benchmark::State&), std::vector<std::int64_t> args = {}) {
  auto* b = benchmark::RegisterBenchmark(name.c_str(), bench)->Unit(benchmark::kMicrosecond);
  if (args.empty()) {
    registered.push_back(name);
  }
  for (std::int64_t arg : args) {
    b->Arg(arg);
    registered.push_back(name + "/" + std::to_string(arg));
  }
}

template <typename Bench>
void RegisterPerIsa(const std::string& name, Bench bench) {
  for (AnalysisIsa isa : {AnalysisIsa::Avx512, AnalysisIsa::Avx2, AnalysisIsa::Sse2, AnalysisIsa::Portable}) {
    if (!IsaAvailable(isa)) continue;
    const std::string full = name + "/" + IsaName(isa);
    benchmark::RegisterBenchmark(full.c_str(), bench, isa)->Unit(benchmark::kMicrosecond);
    registered.push_back(full);
  }
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions the median stands for the benchmark; without, its one run.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!median && run.run_type != Run::RT_Iteration) continue;
      microseconds[run.run_name.str()] = run.GetAdjustedRealTime() * 1e6 / TimeUnitSeconds(run.time_unit);
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto yardstick = microseconds.find(YARDSTICK);
    std::printf("\n%-44s %12s %12s\n", "benchmark", "microseconds", "x FFTW c2c");
    for (const auto& name : registered) {
      if (microseconds.find(name) == microseconds.end()) continue;
      const double us = microseconds[name];
      if (yardstick != microseconds.end()) {
        std::printf("%-44s %12.2f %12.3f\n", name.c_str(), us, us / yardstick->second);
      } else {
        std::printf("%-44s %12.2f %12s\n", name.c_str(), us, "-");
      }
    }
  }

 private:
  std::map<std::string, double> microseconds;
};

}  // namespace

int main(int argc, char** argv) {
  Register(YARDSTICK, FftwComplexBench);
  Register("FFTW_r2c_forward_out_of_place", FftwRealBench);
  RegisterPerIsa("AnalyseFrame", AnalyseFrameBench);
  RegisterPerIsa("FftInPlace", FftInPlaceBench);
  Register("Reference_FftInPlace", ReferenceFftBench);
  Register("Reference_AnalyseFrame", ReferenceAnalyseBench);
  // 1000 packets a take: the take stays in memory already touched; 200000:
  // every packet's samples land in fresh pages.
  Register("ProcessCapturePacket/480_stereo_float", StereoFloatPacketBench, {1000, 200000});
  Register("ProcessCapturePacket/480_six_channel_float", SixChannelFloatPacketBench, {1000});
  Register("ProcessCapturePacket/441_mono_pcm16", MonoPcmPacketBench, {1000, 200000});
  Register("Panels/level_waveform_spectrum_full", PanelsBench);
  // 0: compact, 340 x 40; 1: large, 1920 x 1000; 2: large, its geometry remade each paint.
  Register("Panels/spectrum", SpectrumPanelBench, {0, 1, 2});
  // After 100 and after 2000 columns of history.
  Register("Panels/spectrogram_after_columns", SpectrogramPanelBench, {100, 2000});

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
