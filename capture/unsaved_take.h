#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "capture/output_file.h"
#include "capture/sample_take.h"

// A take whose file could not be written, kept until the user saves it
// elsewhere or discards it. Its beginning is in the file its disk refused
// (the partial file, a valid WAV file of it); memory holds the rest.
struct UnsavedTake {
  // The samples the file had not safely taken when its disk failed, and
  // all that capture added after: the take from samples.Start() on, which
  // is at most inFile. samples.size() is the take's whole length.
  SampleTake samples;
  // Samples of the take that the partial file holds: its header covered
  // them on the disk before the failure.
  std::uint64_t inFile = 0;
  std::int32_t sampleRate = 0;
  std::int32_t channels = 0;
  FileError error;  // why the latest attempt to write it failed
  // The partial file; empty once removed. It stays until the whole take
  // is saved elsewhere or the user has discarded it.
  std::wstring partialFile;
  // The latest save that succeeded wrote only the samples from inFile on:
  // the partial file could not be read back, and keeps the beginning.
  bool savedRestOnly = false;
  // The file the latest save that succeeded wrote: the path asked for, or
  // one beside it when that named the partial file and only the rest was
  // saved, which must not replace the beginning.
  std::wstring savedTo;
  // The recording stopped because memory for the take ran out.
  bool stoppedOutOfMemory = false;
};

enum class SaveWay {
  // A place the user chose: the partial file's part is read back and the
  // whole take written through a file beside path that replaces what path
  // named once complete, so that path holds the take or what it held before.
  Replacing,
  // The rescue when the session ends: only what memory holds, quickly, into
  // a file created at path itself (EEXIST when a file has that name:
  // another rescue took it), removed again if it fails.
  Rescuing,
};

// The header of a file being saved is brought up to what it holds at
// least this often, so that a save cut off (the process ended with the
// session) leaves a valid file of all but the last few megabytes.
constexpr std::uint64_t SAVE_COMMIT_BYTES = std::uint64_t{4} << 20;

// Writes the take at path. The partial file's part is read back when it
// can be; where it cannot (the disk is gone) or when rescuing, only the
// samples from inFile on are written, and savedRestOnly says so. Such a
// save never replaces the partial file: it goes beside it ("take (rest).wav"),
// and savedTo says where. created, if given, is called with the file's
// path once it exists and before any sample is written to it.
FileError SaveTake(const std::wstring& path, UnsavedTake& take, SaveWay way,
                   const FileCalls& calls = SystemFileCalls(),
                   const std::function<void(const std::wstring&)>& created = {});
