#pragma once

// Keeps the system from sleeping for want of keyboard or mouse input while
// the calling thread records or saves a take: a night's recording is left
// alone for hours. Held for the thread until it says otherwise or ends. The
// display may still turn off, and a closed lid or the power button still
// put the system to sleep. The platform defines it
// (SetThreadExecutionState on Windows).
void KeepSystemAwake(bool awake);

// Keeps the system awake for as long as it lives.
class SystemKeptAwake {
 public:
  SystemKeptAwake() { KeepSystemAwake(true); }
  ~SystemKeptAwake() { KeepSystemAwake(false); }
  SystemKeptAwake(const SystemKeptAwake&) = delete;
  SystemKeptAwake& operator=(const SystemKeptAwake&) = delete;
};
