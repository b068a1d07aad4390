// What a long take costs: the real writer and a real file, fed from
// memory faster than real time, 192 kHz stereo. It reports how much the
// process's resident memory had grown after the first minute of take and
// after the last, the most memory the take held at a minute's end, and how
// long Stop took to the closed file. An hour (2.8 GB) at 50 times real
// time, and 100 minutes (4.6 GB: past 4 GB the file becomes RF64) as fast
// as the disk takes it. Files go into the folder given (the working folder
// by default) and are removed, unless --keep is given: then they stay, for
// a reader that is not ours.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/audio_source.h"
#include "capture/take_writer.h"
#include "capture/wav_writer.h"

// The platform functions, as cheap as they can be: posting is not measured.
void PostNotification(WindowHandle, unsigned) {}
std::unique_ptr<AudioSource> CreateDefaultAudioSource() { return nullptr; }
std::uint64_t LargestFileOnVolume(int) { return UINT64_MAX; }

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t RATE = 192000;
constexpr std::int32_t CHANNELS = 2;
// Fed as fast as the disk takes it, the take holds no more than this.
constexpr std::uint64_t MAX_HELD_SAMPLES = std::uint64_t{32} << 20;

std::filesystem::path folder = std::filesystem::current_path();
bool keep = false;

double ResidentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * 4096.0 / 1e6;
}

// Appends a take of `minutes` at `speed` times real time (0: as fast as
// the writer takes it), calling `at` after each minute of take.
template <typename AtMinute>
void Feed(SampleTake& take, const TakeWriter& writer, std::int64_t minutes, double speed, AtMinute at) {
  std::vector<std::int16_t> packet(RATE / 100 * CHANNELS);  // 10 ms
  for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<std::int16_t>(i * 7919 % 65536);
  const std::uint64_t perMinute = std::uint64_t{60} * RATE * CHANNELS;
  const auto start = Clock::now();
  for (std::uint64_t packets = 1; take.size() < static_cast<std::uint64_t>(minutes) * perMinute; ++packets) {
    take.Append(packet);
    if (take.size() % perMinute == 0) at(take.size() / perMinute);
    if (speed > 0) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(packets) * 0.01 / speed));
    } else {
      while (take.Held() > MAX_HELD_SAMPLES && !writer.Failed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

// state.range(0) minutes of take at state.range(1) times real time, with
// the writer's intervals shortened as much: the window it keeps behind
// capture is as many seconds of take as while recording.
void TakeToItsFile(benchmark::State& state) {
  const std::int64_t minutes = state.range(0);
  const auto speed = static_cast<double>(state.range(1));
  const auto path = folder / ("vellora_take_bench_" + std::to_string(minutes) + ".wav");
  for (auto _ : state) {
    const double before = ResidentMegabytes();
    double heldPeak = 0;
    SampleTake take;
    GrowingWavFile file(RATE, CHANNELS);
    if (file.Open(path.wstring())) {
      state.SkipWithError("open failed");
      break;
    }
    const WriterTiming program;
    const auto scaled = [&](std::chrono::milliseconds interval) {
      return speed > 0 ? std::chrono::milliseconds(static_cast<long>(static_cast<double>(interval.count()) / speed)) : std::chrono::milliseconds(10);
    };
    TakeWriter writer(file, take, nullptr, {scaled(program.appendInterval), scaled(program.commitInterval)});
    writer.Start();
    Feed(take, writer, minutes, speed, [&](std::uint64_t minute) {
      heldPeak = std::max(heldPeak, 2.0 * static_cast<double>(take.Held()) / 1e6);
      if (minute == 1 || minute == static_cast<std::uint64_t>(minutes)) {
        state.counters["rss_growth_MB_at_" + std::to_string(minute) + "_min"] = ResidentMegabytes() - before;
      }
    });
    const auto stop = Clock::now();
    if (writer.Finish()) state.SkipWithError("write failed");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - stop).count());
    state.counters["file_GB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e9;
    state.counters["held_peak_MB"] = heldPeak;
    if (!keep) std::filesystem::remove(path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      folder = argv[i];
    }
  }
  // An hour at 50 times real time; 100 minutes (4.6 GB, RF64) as fast as the disk takes it.
  benchmark::RegisterBenchmark("TakeToItsFile/192kHz_stereo", TakeToItsFile)
      ->ArgNames({"minutes", "speed"})->Args({60, 50})->Args({100, 0})
      ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
