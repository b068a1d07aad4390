#include "capture/take_writer.h"

#include <exception>

#include "state/recorder_state.h"

TakeWriter::TakeWriter(GrowingWavFile& wavFile, const SampleTake& samples, WindowHandle target, WriterTiming times,
                       FileError failed)
    : file(wavFile), take(samples), window(target), timing(times), error(failed) {}

bool TakeWriter::Start() {
  try {
    thread = std::thread(&TakeWriter::Run, this);
  } catch (const std::exception&) {
    // std::system_error with no thread to give, std::bad_alloc with no memory for one.
    return false;
  }
  return true;
}

FileError TakeWriter::Finish() {
  if (!thread.joinable()) return error;
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  wake.notify_one();
  thread.join();
  return error;
}

void TakeWriter::Run() {
  using Clock = std::chrono::steady_clock;
  std::size_t written = 0;  // samples in the file
  // The empty take's header reaches the disk before any sample.
  if (!error) error = file.Commit();
  auto lastCommit = Clock::now();
  for (bool last = !!error; !last;) {
    {
      std::unique_lock lock(mutex);
      last = wake.wait_for(lock, timing.appendInterval, [&] { return stopping; });
    }
    const std::size_t available = take.size();
    while (!error && written < available) {
      const auto samples = take.Samples(written, available);
      error = file.Append(samples);
      written += samples.size();
    }
    // Due at the append nearest the interval, so that the file never
    // holds much more than an interval's samples past its header.
    if (!error && !last && Clock::now() - lastCommit + timing.appendInterval / 2 >= timing.commitInterval) {
      error = file.Commit();
      lastCommit = Clock::now();
    }
    if (error) break;
  }
  if (error) {
    // The recording goes on into memory; the window says the file does not.
    liveWriteError = error;
    PostNotification(window, WM_WRITE_FAILED);
  }
  // After a failure the header still covers what the file took, if the
  // disk lets it be written.
  const FileError closeError = file.Close();
  if (!error) error = closeError;
}
