#!/usr/bin/env python3
"""What recording costs the machine: each thread's share of one core while
Vellora.exe records a stereo 48 kHz tone under Wine, on a private display
and virtual microphone.

Usage: bench_window.py SECONDS ROUNDS OUT_DIR EXE [EXE ...] (scripts/bench_window.sh runs it)
Every EXE is measured ROUNDS times in each view that BENCH_VIEWS names
("compact", the default, and "spectrogram": the window nearly as large as
the screen, showing it), the programs and views taking turns, so that a
shared machine's drift falls on all alike; the table gives the medians.
The driver comes from build/mingw-tests.
"""

import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests/e2e"))
from harness import Session  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def program_pid(name):
    """The Linux process that runs the Windows program (not Wine's launcher)."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        # Wine names the program's process after it, in the first argument.
        if command[0].replace(b"\\", b"/").split(b"/")[-1] == name.encode():
            return int(entry.name)
    return None


def thread_times(pid):
    """{tid: (name, cpu seconds)} of every thread of the process."""
    times = {}
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            stat = (task / "stat").read_text()
            name = (task / "comm").read_text().strip()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        times[int(task.name)] = (name, (int(fields[11]) + int(fields[12])) / TICKS)
    return times


def resident_mb(pid):
    """The process's resident memory in MB (VmRSS)."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1000.0
    return 0.0


def process_seconds(pid):
    """User and system time the whole process has used, in seconds."""
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


# The views measured: the window at its first size, and nearly the whole
# 800 x 600 screen with the spectrogram in it.
VIEWS = {"compact": None, "spectrogram": "log dbfs -120 live spectrogram 1 10"}


def measure(exe, seconds, out_dir, round_number, view="compact"):
    build = Path(__file__).resolve().parent.parent / "build/mingw-tests"
    with Session(f"bench_{round_number}", build, out_dir, out_dir / "wineprefix", rate=48000, channels=2) as s:
        key = r"HKCU\Software\Vellora"
        if VIEWS[view]:
            subprocess.run(["wine", "reg", "add", key, "/v", "SpectrumView", "/d", VIEWS[view], "/f"], env=s.env,
                           capture_output=True, timeout=60)
        else:
            subprocess.run(["wine", "reg", "delete", key, "/v", "SpectrumView", "/f"], env=s.env,
                           capture_output=True, timeout=60)
        s.exe = Path(exe).resolve()
        # A desktop's X server carries resources (xrdb, Xft settings); a bare
        # Xvfb has none, and then Xlib reads ~/.Xdefaults and
        # ~/.Xdefaults-HOST again on every lookup. Wine looks up two font
        # resources whenever a font is selected into a device context, about
        # once a paint, so the bare display would add some 2000 system calls
        # a second that no desktop has. An empty resource file ends that.
        (s.dir / ".Xdefaults").write_text("! no resources\n")
        s.start_app()
        if VIEWS[view]:
            s.driver("window", "790", "570")
        s.play_tone(1010)
        s.driver("click", "start")
        s.driver("save-as", "Z:" + str(s.dir / "bench.wav").replace("/", "\\"))
        s.wait_for_status(lambda t: t.startswith("Recording... "), '"Recording..."')
        time.sleep(3)  # past the start: the spectrum is being computed
        pid, display = program_pid(s.exe.name), s.processes[0].pid  # the session's Xvfb
        before, start, memory_before = thread_times(pid), time.monotonic(), resident_mb(pid)
        display_before = process_seconds(display)
        time.sleep(seconds)
        after, elapsed, memory_after = thread_times(pid), time.monotonic() - start, resident_mb(pid)
        display_used = process_seconds(display) - display_before
        s.driver("click", "stop")
        s.wait_for_status(lambda t: t.startswith("Saved to: "), '"Saved to: "')
        s.driver("close")
        s.wait_for_exit()
    main_tid = pid
    shares = {}
    for tid, (name, cpu) in after.items():
        used = cpu - before.get(tid, (name, 0.0))[1]
        label = "window (main thread)" if tid == main_tid else name
        shares.setdefault(label, 0.0)
        shares[label] += 100.0 * used / elapsed
    shares["whole program"] = sum(shares.values())
    # The drawing the program causes is done by the X server.
    shares["X server"] = 100.0 * display_used / elapsed
    shares["program and X server"] = shares["whole program"] + shares["X server"]
    # Not a share: how much the resident memory grew, against the take's
    # growth over the same time (stereo 48 kHz: 0.192 MB a second).
    shares["memory growth, MB"] = memory_after - memory_before
    shares["take's growth, MB"] = 0.192 * elapsed
    return shares


def main():
    seconds, rounds, out_dir = float(sys.argv[1]), int(sys.argv[2]), Path(sys.argv[3]).resolve()
    exes = sys.argv[4:]
    views = os.environ.get("BENCH_VIEWS", "compact").split()
    results = {(exe, view): [] for exe in exes for view in views}
    for r in range(rounds):
        for i, (exe, view) in enumerate(results):
            results[(exe, view)].append(measure(exe, seconds, out_dir, f"{r}_{i}", view))
    for (exe, view), runs in results.items():
        print(f"\n{exe}, {view}: % of one core, median of {len(runs)} recordings of {seconds:.0f} s")
        labels = sorted({label for run in runs for label in run}, key=lambda l: (l != "whole program", l))
        for label in labels:
            values = [run.get(label, 0.0) for run in runs]
            print(f"  {label:32s} {statistics.median(values):6.2f}   ({', '.join(f'{v:.2f}' for v in values)})")


if __name__ == "__main__":
    main()
