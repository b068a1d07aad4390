#pragma once

// Called by the worker, holding queueMutex, when it has found no frame and
// no stop and is about to sleep. Null in the program; a test sets it to
// hold that moment open, where a stop made without the lock would be lost.
extern void (*beforeWorkerSleeps)();

// Body of the analysis worker: analyses queued frames, oldest first, until
// analysisRunning is cleared. A frame that finds no memory is dropped.
void AnalysisThreadMain();

// Recording thread: sets analysisRunning and starts the worker in
// analysisThread (which must be empty). Returns false, with analysisRunning
// clear, when the system has no thread to give.
bool StartAnalysisWorker();

// Recording thread: stops the worker and joins it. Frames still queued stay
// in frameQueue for the next worker.
void StopAnalysisWorker();
