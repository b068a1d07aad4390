// How long Stop takes to the closed file, against the take's length: with
// the take written at Stop, as Vellora did before it wrote while recording,
// and with the real writer, which at Stop has all but the last append's
// samples on the disk. Takes of 1, 10 and 60 minutes of stereo 48 kHz, on
// this machine's disk and on one slowed to 20 MB/s (a USB stick, a network
// folder). Each run writes real files into the folder it is given (the
// working folder by default) and removes them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
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

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t RATE = 48000;
constexpr std::int32_t CHANNELS = 2;
constexpr double SLOW_DISK_BYTES_PER_SECOND = 20e6;

// Whether the file calls below run at the slow disk's pace; set only while
// no file is being written.
std::atomic<bool> slowDisk{false};

// The system's write, then a pause that makes the bytes take as long as
// the slow disk would.
int SlowWrite(int descriptor, const void* data, std::size_t bytes) {
  const int written = SystemFileCalls().write(descriptor, data, bytes);
  if (slowDisk.load() && written > 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(written / SLOW_DISK_BYTES_PER_SECOND));
  }
  return written;
}

const FileCalls BENCH_CALLS{SystemFileCalls().open, SlowWrite, SystemFileCalls().flush, SystemFileCalls().seek,
                            SystemFileCalls().close};

std::filesystem::path folder = std::filesystem::current_path();

// One take per length, made once: 690 MB for the hour.
const SampleTake& TakeOf(std::int64_t minutes, std::size_t leaveOut = 0) {
  static std::map<std::pair<std::int64_t, std::size_t>, std::unique_ptr<SampleTake>> takes;
  auto& take = takes[{minutes, leaveOut}];
  if (!take) {
    take = std::make_unique<SampleTake>();
    std::vector<std::int16_t> second(RATE * CHANNELS);
    for (std::size_t i = 0; i < second.size(); ++i) second[i] = static_cast<std::int16_t>(i * 7919 % 65536);
    const std::size_t samples = static_cast<std::size_t>(minutes) * 60 * second.size() - leaveOut;
    while (take->size() < samples) {
      take->Append(std::span(second).first(std::min(second.size(), samples - take->size())));
    }
  }
  return *take;
}

// Stop, then the whole take written and the file closed.
void WholeTakeAtStop(benchmark::State& state, bool slow) {
  const SampleTake& take = TakeOf(state.range(0));
  const auto path = (folder / "vellora_stop_bench.wav").wstring();
  for (auto _ : state) {
    slowDisk.store(slow);
    const auto stop = Clock::now();
    if (WriteTakeFile(path, take, RATE, CHANNELS, BENCH_CALLS)) state.SkipWithError("write failed");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - stop).count());
    slowDisk.store(false);
    std::filesystem::remove(path);
  }
}

// The real writer, run until it has written all the take holds but the last
// append's samples, then Stop: the last samples, the header and the close.
void WrittenWhileRecording(benchmark::State& state, bool slow) {
  const std::size_t lastAppend = RATE * CHANNELS / 4;  // 250 ms
  const SampleTake& before = TakeOf(state.range(0), lastAppend);
  const std::vector<std::int16_t> last(lastAppend, 5);
  const auto path = folder / "vellora_stop_bench.wav";
  for (auto _ : state) {
    // A take of its own, which the last samples join at Stop; the blocks
    // already filled are copied in, untimed.
    SampleTake take;
    for (std::size_t b = 0; b < before.BlockCount(); ++b) take.Append(before.Block(b));
    GrowingWavFile file(RATE, CHANNELS, BENCH_CALLS);
    if (file.Open(path.wstring())) {
      state.SkipWithError("open failed");
      break;
    }
    TakeWriter writer(file, take, nullptr);
    writer.Start();
    // Caught up, and one commit later: as the recording's writer would be.
    while (std::filesystem::file_size(path) < 44 + 2 * take.size()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    take.Append(last);
    slowDisk.store(slow);
    const auto stop = Clock::now();
    if (writer.Finish()) state.SkipWithError("write failed");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - stop).count());
    slowDisk.store(false);
    std::filesystem::remove(path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc > 1) folder = argv[1];
  for (const bool slow : {false, true}) {
    const std::string disk = slow ? "/disk_20MBps" : "/disk_as_is";
    benchmark::RegisterBenchmark(("StopToClosedFile/whole_take_at_stop" + disk).c_str(), WholeTakeAtStop, slow)
        ->Arg(1)->Arg(10)->Arg(60)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("StopToClosedFile/written_while_recording" + disk).c_str(), WrittenWhileRecording,
                                 slow)
        ->Arg(1)->Arg(10)->Arg(60)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
