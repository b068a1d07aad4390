#include "capture/take_writer.h"

#include <algorithm>
#include <exception>

#include "state/recorder_state.h"

bool CommitDue(std::uint64_t uncoveredBytes, std::uint64_t byteRate, const WriterTiming& timing) {
  if (uncoveredBytes == 0) return false;
  const auto ahead = std::max<std::int64_t>((timing.commitInterval - timing.appendInterval).count(), 0);
  // Counted in the take's own time, from its newest sample: how long a
  // commit took or when the last one was does not matter.
  return uncoveredBytes * 1000 >= byteRate * static_cast<std::uint64_t>(ahead);
}

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
    if (!error && !last && CommitDue(file.DataBytes() - file.CommittedBytes(), file.ByteRate(), timing)) {
      error = file.Commit();
      if (!error) committed();
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
