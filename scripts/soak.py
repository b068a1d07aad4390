#!/usr/bin/env python3
"""A long take of the real program, as a night's recording makes it: under
Wine, from the virtual microphone, in real time. Not part of the tests.

Usage: scripts/soak.py BUILD_DIR OUT_DIR [MINUTES [RATE [CHANNELS]]]
(default 100 minutes of 192 kHz stereo: 4.6 GB, past the 4 GB switch to
RF64). BUILD_DIR is the mingw-tests build (scripts/setup.sh makes it).

Once a minute it prints the process's resident memory, the CPU time it used
in that minute, the file's size and the status line. At the end it stops
the take and checks that the memory stayed flat, that libsndfile's
sndfile-info (a reader that is not ours) reads the file as long as the time
recorded, and that its last seconds still hold the tone.
"""

import array
import os
import re
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests/e2e"))
from harness import Session, check  # noqa: E402
from run_e2e import dominant_frequency, program_process, resident_bytes, saved_to, windows_path  # noqa: E402

TONE = 5000


def cpu_seconds(prefix):
    """User and system time the program's process has used, in seconds."""
    fields = (program_process(prefix) / "stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    build_dir, out_dir = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    minutes, rate, channels = (float(sys.argv[3]) if len(sys.argv) > 3 else 100.0,
                               int(sys.argv[4]) if len(sys.argv) > 4 else 192000,
                               int(sys.argv[5]) if len(sys.argv) > 5 else 2)
    with Session("soak", build_dir, out_dir, out_dir / "wineprefix", rate=rate, channels=channels) as session:
        path = session.dir / "night.wav"
        session.start_app()
        # The tone streamed, not a file of the whole take.
        session._spawn(["sh", "-c", f"sox -n -r {rate} -c {channels} -b 16 -t raw - synth {minutes * 60 + 60} "
                        f"sine {TONE} vol 0.5 | pacat -d mic --raw --rate={rate} --channels={channels} "
                        "--format=s16le"], env=session.env)
        session.driver("click", "start")
        session.driver("save-as", windows_path(path))
        session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
        started = time.monotonic()
        print(" min  resident MB  CPU % of a core  file MB  status", flush=True)
        samples, cpu_before = [], cpu_seconds(session.prefix)
        for minute in range(1, int(minutes) + 1):
            time.sleep(max(0.0, started + 60 * minute - time.monotonic()))
            resident, cpu = resident_bytes(session.prefix), cpu_seconds(session.prefix)
            samples.append(resident)
            print(f"{minute:4d}  {resident / 1e6:11.1f}  {(cpu - cpu_before) / 60 * 100:15.1f}  "
                  f"{path.stat().st_size / 1e6:7.0f}  {session.status()}", flush=True)
            cpu_before = cpu
        time.sleep(max(0.0, started + 60 * minutes - time.monotonic()))
        session.driver("click", "stop")
        recorded = time.monotonic() - started
        status = session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path', timeout=120)
        print(f"stopped after {recorded:.1f} s: {status}")
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")

    info = subprocess.run(["sndfile-info", str(path)], capture_output=True, text=True, check=True).stdout
    print(info)
    duration = re.search(r"Duration\s*:\s*(\d+):(\d+):([\d.]+)", info)
    check(duration, "sndfile-info gives no duration")
    seconds = 3600 * int(duration[1]) + 60 * int(duration[2]) + float(duration[3])
    check(recorded - 2.0 <= seconds <= recorded + 0.5, f"{seconds:.1f} s in the file after {recorded:.1f} s")
    with open(path, "rb") as file:
        file.seek(-2 * channels * rate, 2)
        tail = array.array("h", file.read())
    frequency = dominant_frequency(tail, channels, rate)
    check(abs(frequency - TONE) < 10, f"the last second holds {frequency:.0f} Hz")
    settled = samples[min(4, len(samples) - 1)]
    growth = max(samples) - settled
    print(f"{seconds:.1f} s in {path.stat().st_size} bytes; the last second holds {frequency:.0f} Hz; resident "
          f"memory {settled / 1e6:.1f} MB at minute {min(5, len(samples))}, at most "
          f"{max(samples) / 1e6:.1f} MB later")
    check(growth < 8e6, f"the process grew by {growth / 1e6:.1f} MB while recording")


if __name__ == "__main__":
    main()
