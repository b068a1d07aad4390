#pragma once

// The channel through which worker threads tell the window what happened.
// Posting is asynchronous: it never runs window code on the posting thread.
// The platform defines PostNotification (PostMessageW with wParam and
// lParam 0 on Windows), and keeps two promises:
// - WM_UPDATE_VISUALS asks the window to draw the newest state, and one in
//   its queue is enough: it is posted only when ClaimVisualsPost() says none
//   is waiting (ReleaseVisualsPost() again when the post failed).
// - Every other message is news the window hears exactly once: it is never
//   dropped. A post to a full queue waits for room, for as long as the
//   window exists; with the visual updates coalesced the queue fills only
//   when the window stops handling messages altogether.

struct OpaqueWindow;
using WindowHandle = OpaqueWindow*;

constexpr unsigned WM_UPDATE_VISUALS = 0x8001;     // WM_APP + 1
constexpr unsigned WM_RECORDING_DONE = 0x8002;     // WM_APP + 2
constexpr unsigned WM_RECORDING_STARTED = 0x8003;  // WM_APP + 3
// The device has stopped delivering packets, or delivers them again.
constexpr unsigned WM_CAPTURE_STALLED = 0x8004;    // WM_APP + 4
// Capture has ended and the take is being written.
constexpr unsigned WM_RECORDING_SAVING = 0x8005;   // WM_APP + 5
// The thread that saves a take elsewhere has finished, written or not.
constexpr unsigned WM_TAKE_SAVED = 0x8006;         // WM_APP + 6
// The file stopped taking the recording while it runs; liveWriteError says why.
constexpr unsigned WM_WRITE_FAILED = 0x8007;       // WM_APP + 7
// A recording device came or went, or Windows' default one changed.
constexpr unsigned WM_DEVICES_CHANGED = 0x8008;    // WM_APP + 8

void PostNotification(WindowHandle target, unsigned message);

// Any thread: true when no WM_UPDATE_VISUALS is waiting, which the caller
// is then to post. The window releases it as it handles one, before it
// reads what to draw, so that nothing drawn is older than the latest post.
bool ClaimVisualsPost();
void ReleaseVisualsPost();
