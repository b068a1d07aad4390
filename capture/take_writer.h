#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "capture/sample_take.h"
#include "capture/wav_writer.h"
#include "state/notifier.h"

// How often the writer catches up with capture; tests shorten both.
struct WriterTiming {
  // What capture has added is appended to the file this often.
  std::chrono::milliseconds appendInterval{250};
  // The header's sizes and the disk catch up with the file whenever it
  // would otherwise trail the newest sample by more than this at the next
  // append: a crash or a power cut loses at most about this much of the
  // take, however slow the disk's commits are.
  std::chrono::milliseconds commitInterval{1000};
};

// Whether the writer commits after an append that leaves uncoveredBytes of
// samples past the header: once they hold commitInterval less one
// appendInterval of the take, at byteRate.
bool CommitDue(std::uint64_t uncoveredBytes, std::uint64_t byteRate, const WriterTiming& timing);

// Writes a take into its file while it is being recorded, on a thread of its
// own behind capture. It reads only what the take already holds, so the
// recording thread never waits for the disk: a slow disk makes the writer
// fall behind, never capture lose a packet. What a commit has put safely on
// the disk is released from memory. A disk that fails stops the writing,
// not the recording: the writer tells the window (liveWriteError,
// WM_WRITE_FAILED) and the take goes on in memory from the last commit on.
// At each commit it says how long the volume's free space lasts
// (diskSecondsLeft).
class TakeWriter {
 public:
  // A failure the file has already met (its header could not be written)
  // is reported as soon as the writer starts.
  TakeWriter(GrowingWavFile& file, SampleTake& take, WindowHandle window, WriterTiming timing = {},
             FileError failed = {});
  TakeWriter(const TakeWriter&) = delete;
  TakeWriter& operator=(const TakeWriter&) = delete;
  ~TakeWriter() { Finish(); }

  // False when the system has no thread to give.
  bool Start();
  // Appends what is left, commits and closes the file, and joins the
  // thread. Returns the first failure: from then on the file took nothing
  // more, and its header covers what it had taken.
  FileError Finish();
  // Any thread: the file has failed and takes nothing more.
  bool Failed() const { return fileFailed.load(); }

 private:
  void Run();

  GrowingWavFile& file;
  SampleTake& take;
  WindowHandle window;
  WriterTiming timing;
  std::mutex mutex;              // guards stopping
  std::condition_variable wake;  // notified when stopping is set
  bool stopping = false;
  FileError error;  // writer thread's until Finish has joined it
  std::atomic<bool> fileFailed;  // writer thread writes, any thread reads
  std::thread thread;
};
