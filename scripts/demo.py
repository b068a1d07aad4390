#!/usr/bin/env python3
"""A short recording through the real program on a private display and a
virtual microphone playing a 1010 Hz tone (at -6 dBFS, or at the volume given
third: 1.0 is full scale, and clips). Leaves the WAV file and screenshots of
the screen and of the window mid-recording in the folder it names.

Usage: demo.py BUILD_DIR OUT_DIR [VOLUME]"""

import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests/e2e"))
from harness import Session  # noqa: E402

TONE_HZ = 1010


def main():
    build_dir, out_dir = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    volume = float(sys.argv[3]) if len(sys.argv) > 3 else 0.5
    out_dir.mkdir(parents=True, exist_ok=True)
    with Session("demonstration", build_dir, out_dir, out_dir / "wineprefix", rate=48000, channels=1) as session:
        wav = session.dir / "demonstration.wav"
        session.start_app()
        session.play_tone(TONE_HZ, volume=volume)
        session.driver("click", "start")
        session.driver("save-as", f"Z:{wav}".replace("/", "\\"))
        session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
        time.sleep(4)
        shot = session.screenshot("window_while_recording")
        left, top, right, bottom = session.rect("client")
        window_shot = session.dir / "window.png"
        subprocess.run(["convert", str(shot), "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                        str(window_shot)], check=True)
        session.driver("click", "stop")
        status = session.wait_for_status(lambda s: s.startswith("Saved to: "), '"Saved to: "')
        session.driver("close")
        session.wait_for_exit()
        for tone in session.dir.glob("tone_*.wav"):
            tone.unlink()
    print(f"Status line: {status}")
    print(f"Recording of a {TONE_HZ} Hz tone: {wav}")
    print(f"Screenshot of the screen while recording: {shot}, of the window alone: {window_shot}")
    print(f"All are in {session.dir}")


if __name__ == "__main__":
    main()
