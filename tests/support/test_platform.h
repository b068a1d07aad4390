#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/audio_source.h"
#include "state/notifier.h"

// The platform functions as the tests provide them: a notifier that records
// every (target, message) in order and a settable factory for the default audio source.

struct PostedNotification {
  WindowHandle target;
  unsigned message;
  float peakAtPost;  // peakFrequencyHz when it was posted: shows which analysis posted it
  std::uint32_t stalledAtPost;  // stalledSeconds when it was posted
  std::size_t spectrumBinsAtPost;  // spectrum.size() when it was posted
};

class TestNotifier {
 public:
  void Record(WindowHandle target, unsigned message);
  // Runs on the posting thread for every notification, before it is logged:
  // a test looks at what exists at the moment of posting. Set it while no
  // thread posts.
  std::function<void(unsigned message)> onPost;
  std::vector<PostedNotification> Posted() const;
  std::size_t Count(unsigned message) const;
  // Waits until `count` messages of this id have been posted; false on timeout.
  bool WaitFor(unsigned message, std::size_t count, std::chrono::milliseconds timeout) const;
  void Clear();

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable posted;
  std::vector<PostedNotification> log;
};

extern TestNotifier testNotifier;

// Threads that keep the system awake now, as KeepSystemAwake counts them:
// each thread holds it once, as on Windows.
extern std::atomic<int> threadsKeepingSystemAwake;

// What CreateDefaultAudioSource returns; tests set it.
extern std::function<std::unique_ptr<AudioSource>()> testAudioSourceFactory;

// Puts the shared objects back to their start-of-process values (threads
// must already be joined) and clears the test notifier and error boxes.
void ResetSharedState();

// Runs body on a thread of its own; if it has not returned within the time,
// the test process fails with the message instead of hanging.
void RunWithWatchdog(const std::function<void()>& body, std::chrono::seconds limit,
                     const char* what);

// A new, empty folder under the system's temporary folder that no other
// process uses, named after `name`; two suites running side by side (two
// presets, two checkouts) never touch each other's files. The caller
// removes it.
std::filesystem::path MakeTestDirectory(std::string_view name);

// A made-up window handle for notifications.
inline WindowHandle TestWindow(std::uintptr_t value = 0x1234) {
  return reinterpret_cast<WindowHandle>(value);
}
