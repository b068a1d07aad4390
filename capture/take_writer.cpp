#include "capture/take_writer.h"

#include <algorithm>
#include <exception>

#include "state/recorder_state.h"

TakeWriter::TakeWriter(GrowingWavFile& wavFile, SampleTake& samples, WindowHandle target, WriterTiming times,
                       FileError failed)
    : file(wavFile), take(samples), window(target), timing(times), error(failed), fileFailed(static_cast<bool>(failed)) {}

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
  std::uint64_t written = 0;  // samples in the file
  // What the disk holds safely leaves memory; the free space is read at
  // the same moments, as the disk has just been asked anyway.
  const auto committed = [&] {
    take.Release(file.CommittedBytes() / 2);
    const GrowingWavFile::Room room = file.RoomLeft();
    const std::uint64_t seconds = room.bytes / std::max<std::uint64_t>(file.ByteRate(), 1);
    diskLimitIsFileSize.store(room.sizeLimit);
    diskSecondsLeft.store(static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds, UINT32_MAX)));
  };
  // The empty take's header reaches the disk before any sample.
  if (!error) error = file.Commit();
  if (!error) committed();
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
      if (!error) committed();
      lastCommit = Clock::now();
    }
    if (error) break;
  }
  if (error) {
    // The recording goes on into memory; the window says the file does not.
    fileFailed.store(true);
    liveWriteError = error;
    PostNotification(window, WM_WRITE_FAILED);
  }
  // After a failure the header still covers what the file took, if the
  // disk lets it be written.
  const FileError closeError = file.Close();
  if (!error) error = closeError;
}
