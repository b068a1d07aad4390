#!/usr/bin/env python3
"""End-to-end tests of Vellora.exe under Wine, driven as a user would drive it.

Usage: run_e2e.py BUILD_DIR OUT_DIR [CASE ...]
BUILD_DIR holds the mingw-w64 build with its tests (Vellora.exe and
VelloraDriver.exe; preset mingw-tests);
BUILD_DIR/../release the packaged release (scripts/package.sh), which the
installer case installs; OUT_DIR receives each case's screenshots and logs,
kept when a case fails.
"""

import array
import math
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import traceback
import wave
from pathlib import Path

from harness import CaseFailure, CaseSkipped, Session, check, pixels

PEAK_RED = (255, 40, 40)
LEVEL_GREEN = (0, 200, 0)
LEVEL_PEAK = (0, 80, 0)  # the level's peak mark and its dBFS label
LATENCY_TOLERANCE = 2.0  # seconds the file may fall short of the time recorded
CASE_TIME_LIMIT = 150  # seconds; a case that runs longer has failed


def read_wav(path):
    """Reads the file with Python's own WAV reader, not ours."""
    with wave.open(str(path), "rb") as w:
        params = w.getparams()
        data = w.readframes(params.nframes)
    samples = array.array("h")
    samples.frombytes(data)
    return params, samples


HEADER = struct.Struct("<4sI4s4sIQQQI4sIHHIIHH4sI")  # RIFF, JUNK (ds64's place), fmt, data: 80 bytes


def parsed_header(data):
    """The header's data size and format, after checking that it is a 16-bit
    PCM WAV header that players read: a JUNK chunk ahead of fmt, sizes that
    agree with each other."""
    check(len(data) >= HEADER.size, f"{len(data)} bytes: not even a WAV header")
    (riff, riff_size, wave_id, junk, junk_size, _, _, _, _, fmt, fmt_size, audio_format, channels, rate,
     byte_rate, block_align, bits, data_id, data_size) = HEADER.unpack(data[:HEADER.size])
    check((riff, wave_id, junk, fmt, data_id) == (b"RIFF", b"WAVE", b"JUNK", b"fmt ", b"data"), "wrong chunk ids")
    check(junk_size == 28 and fmt_size == 16 and audio_format == 1 and bits == 16, "not a 16-bit PCM header")
    check(block_align == channels * 2 and byte_rate == rate * block_align, "byte rate or block alignment wrong")
    check(riff_size == data_size + HEADER.size - 8, f"RIFF size {riff_size} for a data size of {data_size}")
    return data_size, byte_rate, block_align


def check_header(path):
    """The header must describe the file exactly: readers differ in how much
    of a wrong size they forgive."""
    data = path.read_bytes()
    data_size, _, _ = parsed_header(data)
    check(data_size == len(data) - HEADER.size, f"data size {data_size} for {len(data) - HEADER.size} bytes of samples")


def saved_to(path):
    """The status line after a saved take: the path, and the gaps the device
    or the audio engine reported, if any."""
    return lambda s: re.fullmatch(re.escape("Saved to: " + path) + r"( \(\d+ gaps?\))?", s) is not None


def recorded_seconds(status):
    """The time a "Recording... M:SS" status line shows, in seconds."""
    match = re.match(r"Recording\.\.\. (?:(\d+):)?(\d+):(\d\d)\b", status)
    check(match, f"no time recorded in {status!r}")
    hours, minutes, seconds = (int(v or 0) for v in match.groups())
    return 3600 * hours + 60 * minutes + seconds


def check_growing_header(path):
    """A file cut off while it was being written: still a valid WAV file whose
    header covers whole frames that it holds, with at most about a second's
    samples after them. Returns the seconds that the header covers."""
    data = path.read_bytes()
    data_size, byte_rate, block_align = parsed_header(data)
    check(data_size % block_align == 0, f"data size {data_size} is no whole number of frames")
    past = len(data) - HEADER.size - data_size
    check(0 <= past <= 1.1 * byte_rate, f"{past} bytes past the {data_size} the header covers")
    return data_size / byte_rate


def tone_strength(samples, rate, frequency):
    """Magnitude of one frequency in a sequence (Goertzel), per sample."""
    coefficient = 2 * math.cos(2 * math.pi * frequency / rate)
    previous, before = 0.0, 0.0
    for sample in samples:
        previous, before = sample + coefficient * previous - before, previous
    power = previous * previous + before * before - coefficient * previous * before
    return math.sqrt(max(power, 0.0)) / len(samples)


def dominant_frequency(samples, channels, rate):
    """Frequency of a steady tone on channel 0, from its rising zero crossings."""
    first = samples[0::channels]
    crossings = [i for i in range(1, len(first)) if first[i - 1] < 0 <= first[i]]
    check(len(crossings) > 10, "no tone in the recording")
    return (len(crossings) - 1) * rate / (crossings[-1] - crossings[0])


def marker_column(frequency, rate, width=340):
    peak_bin = round(frequency * 65536 / rate)
    return int(width * peak_bin / 32768)


def record(session, path, tone, seconds):
    """Start, choose path, record for `seconds` while the tone plays (None: as
    already playing); returns (recording time measured from "Recording..."
    to Stop, mid-recording screenshot)."""
    session.start_app()
    check(session.status() == "Ready", "the status line does not start with Ready")
    return record_started(session, path, tone, seconds)


def record_started(session, path, tone, seconds):
    """The same in a program already started; the status line's text must
    fit its width while recording."""
    if tone is not None:
        session.play_tone(tone)
    session.driver("click", "start")
    session.driver("save-as", path)
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    started = time.monotonic()
    time.sleep(seconds)
    asked = time.monotonic()
    status = session.status()
    read = time.monotonic()
    shown = recorded_seconds(status)
    # The take's own length when the line was read, which runs behind the
    # wall clock by Wine's latency; the screenshot and its measure after it
    # take seconds of their own on a loaded machine.
    check(asked - started - LATENCY_TOLERANCE - 1 <= shown <= read - started,
          f"the status line showed {shown} s after {asked - started:.1f} to {read - started:.1f} s of recording")
    shot = session.screenshot("recording")
    check_text_fits(session, shot, status)
    session.driver("click", "stop")
    stopped = time.monotonic()
    return stopped - started, shot


def text_pixels(session, shot, control):
    """The dark pixels of a control's text in a screenshot, in its own coordinates."""
    return [(x, y) for (x, y), colour in pixels(shot, session.rect(control)).items() if max(colour) < 100]


def check_text_fits(session, shot, status):
    """The status line's text ends before the line does: nothing of it is cut."""
    left, _, right, _ = session.rect("status")
    dark = text_pixels(session, shot, "status")
    check(dark, f"no text in the status line ({status!r})")
    check(max(x for x, _ in dark) < right - left - 3, f"{status!r} runs to the end of the status line")


README = Path(__file__).resolve().parents[2] / "README.md"
SHORT_CAUSES = ("disk full", "disk write-protected", "access denied", "disk or folder gone", "file too large",
                "error 12345")


def status_table_texts():
    """Every text the README's status tables list, its placeholders filled in
    at their widest."""
    texts = []
    for line in README.read_text(encoding="utf-8").splitlines():
        match = re.match(r'\| "([^"]+)" \|', line)
        if not match:
            continue
        text = (match.group(1).replace("PATH", r"C:\Users\Someone\Documents\Interviews\Interview 12.wav")
                .replace("0xCODE", "0x8889000F").replace("N s", "999 s").replace("0:42", "99:59:59")
                .replace("(1 gap)", "(9999 gaps)").replace("(clipped 3 times)", "(clipped 9999 times)")
                # A name that leaves the line no room is shortened by the program.
                .replace("NAME is", "USB Microphone is").replace("NAME", "Microphone Array (Realtek(R) Audio)"))
        texts += [text.replace("CAUSE", cause) for cause in SHORT_CAUSES] if "CAUSE" in text else [text]
    return texts


def check_status_texts_fit(session):
    """Each text of the README's status tables, measured in the status line's
    own font: it fits, or the label shortens only the folders of its path."""
    texts = status_table_texts()
    check(len(texts) >= 25, f"only {len(texts)} texts found in the README's status tables")
    for text in texts:
        lines = session.driver("measure", text).splitlines()
        width, used = map(int, lines[0].split())
        shown = lines[1] if len(lines) > 1 else ""
        session.log.write(f"{used:4d} of {width} px: {shown}\n")
        check(used <= width, f"{text!r} needs {used} px of {width}")
        if shown != text:
            tail = text[text.rfind("\\") + 1:]
            check("\\" in text and "..." in shown and shown.endswith(tail),
                  f"{text!r} is shown as {shown!r}, not whole with the folders of its path shortened")


def clip_light(session, shot, dpi=96):
    """Whether the level panel's clip light, its last 6 columns at 96 DPI, is lit."""
    left, top, right, bottom = session.rect("level")
    light = pixels(shot, (right - (6 * dpi + 48) // 96, top, right, bottom))
    return all(colour == PEAK_RED for colour in light.values())


def check_panels(session, shot, tone, dpi=96, clipped=False, peak=0.5):
    """The panels of a tone at peak (full scale 1): the level bar, its peak
    mark and label, the clip light (lit only when clipped), the spectrum's
    marker and label."""
    scaled = lambda value: (value * dpi + 48) // 96  # MulDiv(value, dpi, 96)
    level = pixels(shot, session.rect("level"))
    green = sum(1 for colour in level.values() if colour == LEVEL_GREEN)
    check(green > 40, f"the level bar is empty while a tone plays ({green} green pixels)")
    check(clip_light(session, shot, dpi) == clipped, f"the clip light is {'not ' if clipped else ''}lit")
    if not clipped:  # at full scale the mark lies under the light
        # The mark spans the panel's height; the label's strokes do not.
        height = session.rect("level")[3] - session.rect("level")[1]
        marks = sorted({x for (x, _), colour in level.items() if colour == LEVEL_PEAK
                        and sum(1 for y in range(height) if level.get((x, y)) == LEVEL_PEAK) == height})
        expected = int(scaled(340) * peak)
        check(marks and all(abs(x - expected) <= 2 for x in marks), f"peak mark at {marks}, expected at {expected}")
    label = sum(1 for (x, _), colour in level.items() if colour == LEVEL_PEAK and x > scaled(250))
    check(label > 15, "no dBFS label")

    spectrum = pixels(shot, session.rect("spectrum"))
    # Below the label: only the marker is red there.
    columns = sorted({x for (x, y), colour in spectrum.items() if colour == PEAK_RED and y >= scaled(24)})
    expected = marker_column(tone, session.rate, scaled(340))
    check(columns, "no peak marker in the spectrum panel")
    check(all(expected - 1 <= x <= expected + 2 for x in columns),
          f"peak marker at columns {columns}, expected at {expected} for {tone} Hz")
    label_red = sum(1 for (x, y), colour in spectrum.items()
                    if colour == PEAK_RED and x >= scaled(220) and y < scaled(20))
    check(label_red > 20, "no peak label")


def check_wav(path, session, tone, recorded_seconds, rate=None, channels=None):
    """The file holds the tone for the time recorded, at the device's rate
    and channel count (the session's microphone's unless given)."""
    rate, channels = rate or session.rate, channels or session.channels
    check_header(path)
    params, samples = read_wav(path)
    check(params.nchannels == channels, f"{params.nchannels} channels, device has {channels}")
    check(params.framerate == rate, f"rate {params.framerate}, device has {rate}")
    check(params.sampwidth == 2 and params.comptype == "NONE", "not 16-bit PCM")
    # Wine's capture from PulseAudio runs up to about a second and a half
    # behind; what was still in flight at Stop is not in the file.
    seconds = params.nframes / params.framerate
    check(recorded_seconds - LATENCY_TOLERANCE <= seconds <= recorded_seconds + 0.5,
          f"{seconds:.2f} s in the file for about {recorded_seconds:.2f} s of recording")
    frequency = dominant_frequency(samples, params.nchannels, params.framerate)
    check(abs(frequency - tone) < tone * 0.01, f"the file's tone is {frequency:.1f} Hz, played {tone} Hz")
    if params.nchannels == 2:
        left, right = samples[0::2], samples[1::2]
        check(any(right), "the second channel is silent")
        check(max(abs(a - b) for a, b in zip(left, right)) <= 1, "channels differ for a mono tone")


def tone_case(rate, channels, tone):
    def case(session):
        path = session.dir / "take.wav"
        recorded, shot = record(session, f"Z:{path}".replace("/", "\\"), tone, 6.0)
        session.wait_for_status(saved_to(f"Z:{path}".replace("/", "\\")), '"Saved to: " and the path')
        check_panels(session, shot, tone)
        check_wav(path, session, tone, recorded)
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
    case.session = dict(rate=rate, channels=channels)
    return case


def program_process(prefix, name=b"Vellora.exe"):
    """The /proc folder of the process that runs the program in that Wine
    prefix: Wine names it after the program in its first argument (its
    launcher is "wine"), and cases that run side by side each have a prefix."""
    found = []
    wanted = b"WINEPREFIX=" + str(prefix).encode()
    for entry in Path("/proc").iterdir():
        try:
            if not entry.name.isdigit():
                continue
            command = (entry / "cmdline").read_bytes().split(b"\0")
            if (command[0].replace(b"\\", b"/").split(b"/")[-1] == name
                    and wanted in (entry / "environ").read_bytes().split(b"\0")):
                found.append(entry)
        except OSError:
            continue
    check(len(found) == 1, f"{len(found)} processes of the program to measure")
    return found[0]


def resident_bytes(prefix):
    """The resident memory of the process that runs the program."""
    status = (program_process(prefix) / "status").read_text()
    return int(re.search(r"^VmRSS:\s+(\d+) kB", status, re.M)[1]) * 1024


def case_memory_192000(session):
    """A long take at 192 kHz stereo costs no more memory than a short one:
    the process grows by less than 5 % of the take's bytes plus 8 MB while
    recording (VELLORA_MEMORY_SECONDS long, 30 s unless set; a take kept in
    memory would grow it by all of its bytes)."""
    seconds = float(os.environ.get("VELLORA_MEMORY_SECONDS", "30"))
    path = session.dir / "take.wav"
    session.start_app()
    session.play_tone(5000, seconds=seconds + 30)
    session.driver("click", "start")
    session.driver("save-as", windows_path(path))
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    started = time.monotonic()
    time.sleep(3.0)  # the analysis and the window have what they keep
    first, first_at = resident_bytes(session.prefix), time.monotonic()
    time.sleep(max(0.0, seconds - (time.monotonic() - started)))
    last, last_at = resident_bytes(session.prefix), time.monotonic()
    take_bytes = (last_at - first_at) * 192000 * 4
    session.log.write(f"resident {first} then {last} bytes, {last_at - first_at:.1f} s later\n")
    check(last - first < 0.05 * take_bytes + 8e6,
          f"the process grew by {(last - first) / 1e6:.1f} MB while recording {take_bytes / 1e6:.1f} MB")
    session.driver("click", "stop")
    recorded = time.monotonic() - started
    session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
    check_wav(path, session, 5000, recorded)
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


case_memory_192000.session = dict(rate=192000, channels=2)


def case_non_ascii_name(session):
    name = "Aufnahme äöü 録音.wav"
    path = session.dir / name
    windows_path = f"Z:{path}".replace("/", "\\")
    record(session, windows_path, 2000, 2.0)
    session.wait_for_status(saved_to(windows_path), "the non-ASCII path")
    check(path.exists(), f"no file named {name!r}; found {[p.name for p in session.dir.iterdir()]}")
    check_header(path)
    params, _ = read_wav(path)
    check(params.nframes > 0, "empty recording")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def case_unwritable_path(session):
    # /proc accepts no new files, not even from root.
    session.start_app()
    session.driver("click", "start")
    session.driver("save-as", "Z:\\proc\\take.wav")
    text = session.driver("error-box")
    check(text == "Cannot open file for writing", f"error box said {text!r}")
    status = session.wait_for_status(lambda s: s != "Ready" and not s.startswith("Recording..."), "an outcome")
    check("Saved" not in status and "not" in status.lower(), f"status after a failed open: {status!r}")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def case_close_while_recording(session):
    path = session.dir / "closing.wav"
    session.start_app()
    session.play_tone(1000)
    session.driver("click", "start")
    session.driver("save-as", f"Z:{path}".replace("/", "\\"))
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    time.sleep(4.0)
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")
    check_header(path)
    params, samples = read_wav(path)
    check(params.nframes >= (4.0 - LATENCY_TOLERANCE) * session.rate,
          f"{params.nframes / session.rate:.2f} s in a four-second recording")
    check(abs(dominant_frequency(samples, params.nchannels, params.framerate) - 1000) < 10, "wrong tone")


def case_no_device(session):
    path = session.dir / "never.wav"
    session.start_app()
    session.driver("click", "start")
    session.driver("save-as", f"Z:{path}".replace("/", "\\"))
    box = session.driver("error-box")
    check("device" in box, f"the box without a device: {box!r}")
    status = session.wait_for_status(lambda s: s != "Ready", "an outcome")
    check(status == "Could not start recording. Nothing was saved.", f"status without a device: {status!r}")
    check(not path.exists(), "a file was created without a device")
    # Back to idle: Start opens the dialog again.
    session.driver("click", "start")
    session.driver("cancel-dialog")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


case_no_device.session = dict(device=False)

CHANNEL_TONES = (500, 1300, 2100, 3700)  # one on each input channel, no one a harmonic of another


def case_four_channel_mic(session):
    """The file is stereo: the device's first channel on the left, its second
    on the right, and neither mixed with any other input."""
    path = session.dir / "four.wav"
    windows_path = f"Z:{path}".replace("/", "\\")
    session.start_app()
    session.play_tones(CHANNEL_TONES)
    session.driver("click", "start")
    session.driver("save-as", windows_path)
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    time.sleep(4.0)
    session.driver("click", "stop")
    session.wait_for_status(saved_to(windows_path), '"Saved to: " and the path')
    check_header(path)
    params, samples = read_wav(path)
    check(params.nchannels == 2 and params.framerate == session.rate,
          f"{params.nchannels} channels at {params.framerate} Hz from a four-channel {session.rate} Hz device")
    # The last second: the tones are steady there, whatever the start-up latency.
    second = samples[-2 * session.rate:]
    check(len(second) == 2 * session.rate, "less than a second recorded")
    for channel, wanted in enumerate(CHANNEL_TONES[:2]):
        strengths = {tone: tone_strength(second[channel::2], session.rate, tone) for tone in CHANNEL_TONES}
        session.log.write(f"channel {channel}: {strengths}\n")
        check(strengths[wanted] > 1000, f"channel {channel} lacks its {wanted} Hz tone: {strengths}")
        for tone, strength in strengths.items():
            check(tone == wanted or strength < strengths[wanted] / 100,
                  f"channel {channel} holds the {tone} Hz of another input: {strengths}")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


case_four_channel_mic.session = dict(channels=4)


def case_device_removed(session):
    """The microphone goes away mid-recording: the window says so while the
    recording goes on, and Stop saves what was captured before."""
    path = session.dir / "removed.wav"
    windows_path = f"Z:{path}".replace("/", "\\")
    session.start_app()
    session.play_tone(1000)
    session.driver("click", "start")
    session.driver("save-as", windows_path)
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    time.sleep(4.0)
    session.remove_microphone()
    removed = time.monotonic()
    status = session.wait_for_status(
        lambda s: s.startswith("Recording... ") and "(no sound for " in s
        or s == "Saved to: " + windows_path + " (stopped: device lost)",
        "that the device stopped")
    session.log.write(f"after {time.monotonic() - removed:.1f} s: {status}\n")
    if status.startswith("Recording..."):
        session.driver("click", "stop")
        session.wait_for_status(lambda s: s.startswith("Saved to: " + windows_path), '"Saved to: " and the path')
    check_header(path)
    params, samples = read_wav(path)
    seconds = params.nframes / params.framerate
    check(4.0 - LATENCY_TOLERANCE <= seconds <= 4.5, f"{seconds:.2f} s saved from about 4 s before the removal")
    check(abs(dominant_frequency(samples, params.nchannels, params.framerate) - 1000) < 10, "wrong tone")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def windows_path(path):
    return f"Z:{path}".replace("/", "\\")


def start_recording(session, path, tone):
    """Starts the program and a recording into path while the tone plays;
    returns the moment the status line says that it records."""
    session.start_app()
    session.play_tone(tone)
    session.driver("click", "start")
    session.driver("save-as", windows_path(path))
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    return time.monotonic()


def stopped_take_then_start(session, seconds, path):
    """A take of the 1000 Hz tone stopped after seconds, then the next
    recording started into path; returns the seconds the stopped take lost
    (Wine's capture latency), for a take that ends otherwise to be compared
    with."""
    stopped = session.dir / "stopped.wav"
    started = start_recording(session, stopped, 1000)
    time.sleep(seconds)
    session.driver("click", "stop")
    ordinary = time.monotonic() - started
    session.wait_for_status(saved_to(windows_path(stopped)), '"Saved to: " and the path')
    by_stop = read_wav(stopped)[0]
    session.driver("click", "start")
    session.driver("save-as", windows_path(path))
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    return ordinary - by_stop.nframes / by_stop.framerate


def case_session_end(session):
    """Windows ends the session during a recording: the take is in its file,
    whole and with a header that describes it, before the program ends, and
    it holds as much as a take of the same length ended by Stop in the same
    run (both lose Wine's capture latency, and no more)."""
    lost_by_stop = stopped_take_then_start(session, 4.0, session.dir / "shutdown.wav")
    path = session.dir / "shutdown.wav"
    started = time.monotonic()
    time.sleep(4.0)
    recorded = time.monotonic() - started
    subprocess.run(["wineboot", "--end-session", "--shutdown"], env=session.env, check=True, timeout=60,
                   stdout=session.log, stderr=subprocess.STDOUT)
    check(session.wait_for_exit() == 0, "exit code is not 0")
    check_wav(path, session, 1000, recorded)
    by_end = read_wav(path)[0]
    lost_by_end = recorded - by_end.nframes / by_end.framerate
    session.log.write(f"lost {lost_by_stop:.2f} s at Stop, {lost_by_end:.2f} s at the session's end\n")
    check(lost_by_end <= lost_by_stop + 0.5,
          f"the session's end lost {lost_by_end:.2f} s of the take, Stop {lost_by_stop:.2f} s")


case_session_end.session = dict(channels=2)


class SmallDisk:
    """A 1 MiB file system mounted in the case's folder: it fills up about
    five seconds into a stereo 48 kHz recording, having said so
    ahead. Skips the case where mounting is not allowed."""

    def __init__(self, session):
        self.path = session.dir / "small"

    def __enter__(self):
        self.path.mkdir()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(self.path)],
                                 capture_output=True)
        if mounted.returncode != 0:
            raise CaseSkipped(f"cannot mount a small file system here: {mounted.stderr.decode().strip()}")
        return self.path

    def __exit__(self, *exc):
        # Lazily: Wine may still hold the folder open.
        subprocess.run(["umount", "-l", str(self.path)], capture_output=True)
        return False


def not_saved_disk_full(status):
    return status.startswith("Recording... ") and status.endswith("(not saved: disk full)")


def record_onto_full_disk(session, full, tone, seconds):
    """Records onto a disk that fills up: the status line says so while the
    recording goes on; after Stop the take waits to be saved elsewhere, and
    the full disk holds a valid WAV file of what it took. Returns the time
    recorded."""
    session.start_app()
    session.play_tone(tone)
    session.driver("click", "start")
    session.driver("save-as", windows_path(full))
    session.wait_for_status(lambda s: s.startswith("Recording..."), '"Recording..."')
    started = time.monotonic()
    session.wait_for_status(lambda s: s.endswith("(disk full in 1 min)"), "that the disk is about to fill")
    session.wait_for_status(not_saved_disk_full, "that the recording is no longer saved")
    time.sleep(max(0.0, seconds - (time.monotonic() - started)))
    check(not_saved_disk_full(session.status()), "the notice went while recording")
    session.driver("click", "stop")
    recorded = time.monotonic() - started
    session.wait_for_status(lambda s: s == "Not saved yet: disk full.", "that the take is not saved")
    seconds_on_disk = check_growing_header(full)
    check(seconds_on_disk > 1.0, f"the full disk holds only {seconds_on_disk:.2f} s of the take")
    return recorded


def case_full_disk(session):
    """The disk fills up while recording; at Stop the window asks where else
    to save the take, which is then saved whole, and the part on the full
    disk goes."""
    with SmallDisk(session) as small:
        full, kept = small / "take.wav", session.dir / "kept.wav"
        recorded = record_onto_full_disk(session, full, 2000, 4.0)
        question = session.driver("answer", "yes")
        check("because the disk is full" in question, f"the question does not say why: {question!r}")
        session.driver("save-as", windows_path(kept))
        session.wait_for_status(saved_to(windows_path(kept)), '"Saved to: " and the second path')
        check(not full.exists(), "the part on the full disk is left after the take was saved elsewhere")
        check_wav(kept, session, 2000, recorded)
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")


case_full_disk.session = dict(channels=2)


def case_disk_pulled(session):
    """The disk fills up, and is pulled before the take is saved elsewhere:
    what memory holds is saved, and a box says where the first part is (the
    file on the pulled disk, valid up to the failure) and how long each part
    is; together they hold the take."""
    with SmallDisk(session) as small:
        full, kept = small / "take.wav", session.dir / "kept.wav"
        recorded = record_onto_full_disk(session, full, 2000, 4.0)
        first = check_growing_header(full)
        subprocess.run(["umount", "-l", str(small)], check=True)
        session.driver("answer", "yes")
        session.driver("save-as", windows_path(kept))
        notice = session.driver("error-box", "Vellora")
        match = re.fullmatch(r"The first part of the recording \((\d+) s\) could not be read back from\n(.+)\n"
                             r"which keeps it, valid up to the failure\. The rest \((\d+) s\) was saved to\n(.+)", notice)
        check(match and (match[2], match[4]) == (windows_path(full), windows_path(kept)),
              f"the box does not say where each part is: {notice!r}")
        session.wait_for_status(saved_to(windows_path(kept)), '"Saved to: " and the second path')
        check_wav(kept, session, 2000, recorded - first)
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")


case_disk_pulled.session = dict(channels=2)


def windows_folder(session, name):
    """The Linux path of one of the user's shell folders ("Personal": Documents)."""
    key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
    out = subprocess.run(["wine", "reg", "query", key, "/v", name], env=session.env, capture_output=True,
                         text=True, timeout=60).stdout
    folder = re.search(r"REG_SZ\s+(.+)", out)[1].strip()
    return Path(subprocess.run(["winepath", "-u", folder], env=session.env, check=True, capture_output=True,
                               text=True).stdout.strip())


def case_session_end_while_asking(session):
    """The session ends by force while the "save it somewhere else?" question
    is open, and Documents cannot take a folder (a file has its name): what
    memory holds of the take goes to the user's local application data, the
    full disk keeps its beginning, and the next start says where each part
    is: together they hold the whole take."""
    blocker = windows_folder(session, "Personal") / "Vellora"
    if blocker.is_dir():
        shutil.rmtree(blocker)
    blocker.write_text("not a folder")
    try:
        rescue_while_asking(session)
    finally:
        blocker.unlink()


def rescue_while_asking(session):
    with SmallDisk(session) as small:
        full = small / "take.wav"
        recorded = record_onto_full_disk(session, full, 1000, 4.0)
        time.sleep(1.0)  # the question is on the screen
        subprocess.run(["wineboot", "--end-session", "--shutdown", "--force"], env=session.env, timeout=60,
                       stdout=session.log, stderr=subprocess.STDOUT)
        session.wait_for_exit()
        session.start_app()
        notice = session.driver("error-box", "Vellora")
        match = re.fullmatch(r"When Windows ended the session, the recording was saved in two parts: "
                             r"the first \((\d+) s\) in\n(.+)\nand the rest \((\d+) s\) in\n(.+)", notice)
        check(match, f"the next start does not say where the take went: {notice!r}")
        check(match.group(2) == windows_path(full), f"the first part is said to be in {match.group(2)}")
        place = match.group(4)
        status = session.status()
        check(status == "Saved to: " + place, f"the status line after the notice: {status!r}")
        rescued = Path(subprocess.run(["winepath", "-u", place], env=session.env, check=True,
                                      capture_output=True, text=True).stdout.strip())
        check(place.startswith(r"C:\users") and r"\AppData\Local\Vellora\Recording " in place,
              f"the take went to {place}")
        first = check_growing_header(full)
        check_wav(rescued, session, 1000, recorded - first)
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")


case_session_end_while_asking.session = dict(channels=2)

EIGHT_TONES = (500, 700, 1100, 1300, 1700, 1900, 2300, 2900)


def case_eight_channel_mic(session):
    """An eight-channel microphone in PulseAudio's default layout, which has
    no Windows channel mask: Wine's driver refuses its own mix format, and the
    stream is recorded as the engine mixes it down to stereo, the device's
    first channel on the left and its second on the right."""
    path = session.dir / "eight.wav"
    # A live microphone: the virtual one delivers from before the program opens it.
    session.play_tones(EIGHT_TONES)
    time.sleep(1.0)
    recorded, _ = record(session, windows_path(path), None, 4.0)
    session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
    check_header(path)
    params, samples = read_wav(path)
    check(params.nchannels == 2 and params.framerate == session.rate,
          f"{params.nchannels} channels at {params.framerate} Hz from an eight-channel {session.rate} Hz device")
    seconds = params.nframes / params.framerate
    check(recorded - LATENCY_TOLERANCE <= seconds <= recorded + 0.5, f"{seconds:.2f} s for {recorded:.2f} s recorded")
    last = samples[-2 * session.rate:]
    for channel, own, other in ((0, EIGHT_TONES[0], EIGHT_TONES[1]), (1, EIGHT_TONES[1], EIGHT_TONES[0])):
        strengths = {tone: tone_strength(last[channel::2], session.rate, tone) for tone in EIGHT_TONES}
        session.log.write(f"channel {channel}: {strengths}\n")
        check(strengths[own] == max(strengths.values()) and strengths[own] > 1000,
              f"channel {channel}'s strongest tone is not its input's {own} Hz: {strengths}")
        check(strengths[other] < strengths[own] / 100, f"channel {channel} holds the {other} Hz of the other side")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


case_eight_channel_mic.session = dict(channels=8)


def case_killed_while_recording(session):
    """The program is killed mid-recording, as a crash, End task or a
    shutdown that does not wait kills it: the file is a valid WAV file,
    without any repair, holding the tone and all but about the last second
    of what a take of the same length ended by Stop in the same run holds
    (both lose Wine's capture latency)."""
    path = session.dir / "killed.wav"
    lost_by_stop = stopped_take_then_start(session, 6.0, path)
    started = time.monotonic()
    time.sleep(6.0)
    os.killpg(session.app.pid, signal.SIGKILL)
    recorded = time.monotonic() - started
    session.app.wait(timeout=10)
    seconds = check_growing_header(path)
    lost_by_kill = recorded - seconds
    session.log.write(f"lost {lost_by_stop:.2f} s at Stop, {lost_by_kill:.2f} s when killed\n")
    check(seconds <= recorded + 0.5, f"{seconds:.2f} s in the file's header after {recorded:.2f} s of recording")
    check(lost_by_kill <= lost_by_stop + 1.1,
          f"the killed take lost {lost_by_kill:.2f} s, the stopped one {lost_by_stop:.2f} s")
    params, samples = read_wav(path)
    check(params.nchannels == session.channels and params.framerate == session.rate, "wrong format")
    check(abs(dominant_frequency(samples, params.nchannels, params.framerate) - 1000) < 10, "wrong tone")


case_killed_while_recording.session = dict(channels=2)


def case_keyboard(session):
    """Without the mouse: the focused Start opens the Save dialog on Space,
    Enter saves there, Stop has the focus while recording and stops on
    Space, not on Escape; Tab moves between the buttons, Enter presses the
    focused one."""
    path = session.dir / "keys.wav"

    def keys(*names):
        subprocess.run(["xdotool", "key", "--delay", "100", *names], env=session.env, check=True, timeout=30)

    session.start_app()
    session.play_tone(1000)
    window = subprocess.run(["xdotool", "search", "--name", "^Vellora$"], env=session.env, capture_output=True,
                            text=True, check=True).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=session.env, check=True, timeout=30)
    check(session.driver("focus") == "start", "Start has not the focus when the window opens")
    keys("Tab")
    check(session.driver("focus") == "stop", "Tab does not move to Stop")
    keys("shift+Tab")
    check(session.driver("focus") == "start", "Shift+Tab does not move back to Start")
    keys("space")
    # The Save dialog has the keyboard now: the name, then Enter.
    session.driver("wait-dialog")
    keys("ctrl+a")
    subprocess.run(["xdotool", "type", "--delay", "20", windows_path(path)], env=session.env, check=True, timeout=60)
    keys("Return")
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    time.sleep(3.0)
    check(session.driver("focus") == "stop", "Stop has not the focus while recording")
    # Escape and Ctrl+Break are Cancel to a dialog, whose id is Stop's: a
    # stray one must not end the take.
    keys("Escape", "ctrl+Break")
    time.sleep(1.5)
    check(session.status().startswith("Recording... "), f"Escape ended the take: {session.status()!r}")
    keys("space")
    session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
    check(session.driver("focus") == "start", "Start has not the focus again after the recording")
    keys("Tab", "Return")  # Enter on Stop: nothing to stop, and no Save dialog either
    time.sleep(1.0)
    check(saved_to(windows_path(path))(session.status()), "Enter on Stop did something")
    # Another window activated and this one again: the focus comes back to
    # the button that had it, the microphone's too.
    keys("Tab")
    check(session.driver("focus") == "device", "Tab does not move from Stop to the microphone button")
    notepad = session._spawn(["wine", "notepad"], env=session.env)
    other = subprocess.run(["xdotool", "search", "--sync", "--name", "Notepad"], env=session.env, capture_output=True,
                           text=True, check=True, timeout=60).stdout.split()[0]
    # Without a window manager, a click activates: the other window out of
    # the way, then a click on neither control nor panel of this one.
    subprocess.run(["xdotool", "windowmove", "--sync", other, "450", "300", "windowfocus", "--sync", other],
                   env=session.env, check=True, timeout=30)
    time.sleep(0.5)
    check(session.driver("focus") == "other", "the window kept the focus while another was active")
    left, top, _, _ = session.rect("client")
    subprocess.run(["xdotool", "mousemove", str(left + 5), str(top + 5), "click", "1"], env=session.env, check=True,
                   timeout=30)
    time.sleep(0.5)
    check(session.driver("focus") == "device", f"the focus came back to {session.driver('focus')}")
    notepad.kill()
    check_header(path)
    params, _ = read_wav(path)
    check(params.nframes > 0, "empty recording")
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


CONTROL_PLACES = {  # left, top, width, height at 96 DPI, in the client area
    "start": (20, 20, 140, 30), "stop": (180, 20, 80, 30), "device": (280, 20, 80, 30), "status": (20, 60, 340, 20),
    "level": (20, 90, 340, 20), "waveform": (20, 120, 340, 40), "spectrum": (20, 170, 340, 40),
}


def case_dpi_144(session):
    """A screen at 150 % (144 DPI): the window, every control, the panels'
    marker and label and the message font are 1.5 times their 96-DPI size,
    and the status line's texts fit it."""
    key = r"HKCU\Control Panel\Desktop"
    subprocess.run(["wine", "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f"],
                   env=session.env, capture_output=True, check=True, timeout=60)
    subprocess.run(["wineserver", "-k"], env=session.env, capture_output=True, timeout=30)
    subprocess.run(["wineserver", "-w"], env=session.env, capture_output=True, timeout=30)
    try:
        session.start_app()
        client = session.rect("client")
        width, height = client[2] - client[0], client[3] - client[1]
        check(580 <= width <= 600 and 360 <= height <= 405, f"client area {width} x {height} at 144 DPI")
        for name, (x, y, w, h) in CONTROL_PLACES.items():
            left, top, right, bottom = session.rect(name)
            place = (left - client[0], top - client[1], right - left, bottom - top)
            wanted = tuple((v * 144 + 48) // 96 for v in (x, y, w, h))
            check(place == wanted, f"{name} at {place}, {wanted} at 144 DPI")
        path = session.dir / "take.wav"
        recorded, shot = record_started(session, windows_path(path), 3000, 5.0)
        # The message font at 144 DPI: capitals and descenders span some 14
        # rows, against some 10 at 96 DPI.
        for name in ("start", "status"):  # Stop has the focus: its dotted frame is dark too
            rows = {y for _, y in text_pixels(session, shot, name)}
            check(rows and 12 <= max(rows) - min(rows) + 1 <= 20,
                  f"the {name} control's text spans {len(rows)} rows at 144 DPI")
        check_panels(session, shot, 3000, dpi=144)
        session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
        check_wav(path, session, 3000, recorded)
        check_status_texts_fit(session)
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
    finally:
        subprocess.run(["wine", "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "96", "/f"],
                       env=session.env, capture_output=True, timeout=60)


def control_places(session):
    """Each control's left, top, width and height in the client area."""
    client = session.rect("client")
    places = {}
    for name in CONTROL_PLACES:
        left, top, right, bottom = session.rect(name)
        places[name] = (left - client[0], top - client[1], right - left, bottom - top)
    return places


def grown(width, height):
    """The controls' places at 96 DPI in a client area grown by width and
    height past the first one: the buttons as they were, the status line
    and the panels wider, the spectrum taller too."""
    places = {}
    for name, (x, y, w, h) in CONTROL_PLACES.items():
        places[name] = (x, y, w, h) if name in ("start", "stop", "device") else (
            x, y, w + width, h + (height if name == "spectrum" else 0))
    return places


def case_resize(session):
    """The window grows: dragged larger, the status line and the panels take
    the width and the spectrum the height too, the buttons stay; it gets no
    smaller than its first size; maximised, it fills the screen; the next
    start finds it where and as it was."""
    session.start_app()
    try:
        first = session.rect("window")
        check(control_places(session) == grown(0, 0), f"first size: {control_places(session)}")
        client = session.rect("client")
        # On the case's 800 x 600 screen.
        session.driver("window", str(first[2] - first[0] + 250), str(first[3] - first[1] + 150))
        check(control_places(session) == grown(250, 150), f"250 x 150 larger: {control_places(session)}")
        session.driver("window", "200", "100")
        now = session.rect("window")
        check((now[2] - now[0], now[3] - now[1]) == (first[2] - first[0], first[3] - first[1]),
              f"the window went down to {now[2] - now[0]} x {now[3] - now[1]}")
        check(control_places(session) == grown(0, 0), "below the first size, a control moved")
        session.driver("window", "maximize")
        maximised = session.rect("client")
        wide, high = (maximised[2] - maximised[0]) - (client[2] - client[0]), \
            (maximised[3] - maximised[1]) - (client[3] - client[1])
        check(wide > 300 and high > 250, f"maximised, the client area grew by only {wide} x {high}")
        check(control_places(session) == grown(wide, high), f"maximised: {control_places(session)}")
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
        session.start_app()
        check(control_places(session) == grown(wide, high), "the next start did not restore the maximised window")
        session.driver("window", "restore")
        again = session.rect("window")
        check(again[2] - again[0] == first[2] - first[0], f"restored to {again}, not {first}")
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
    finally:
        subprocess.run(["wine", "reg", "delete", r"HKCU\Software\Vellora", "/v", "WindowPlace", "/f"],
                       env=session.env, capture_output=True, timeout=60)


def case_large_spectrum(session):
    """Maximised, the spectrum is an analyser: a 440 Hz tone at -12 dBFS
    with its third harmonic 50 dB below reads as such in the panel's text
    for screen readers, the mouse over the harmonic reads its frequency and
    level, the menu key's menu and its access keys change the view and are
    remembered, and the spectrum copies to the clipboard as text."""
    quarter = 10 ** (-12 / 20)
    session.start_app()
    try:
        session.play_mixed([(440, quarter), (1320, quarter * 10 ** (-50 / 20))])
        # Nearly the whole 800 x 600 screen: without a window manager Wine
        # maximises the window but not what X shows of it.
        session.driver("window", "790", "570")
        session.driver("click", "start")
        session.driver("save-as", windows_path(session.dir / "tone.wav"))
        session.wait_for_status(lambda s: s.startswith("Recording... 0:03"), '"Recording..." for 3 s')
        text = session.driver("text", "spectrum")
        match = re.fullmatch(r"Spectrum: peak (\d+\.\d\d) Hz, (-?\d+\.\d) dBFS", text)
        check(match, f"the spectrum says {text!r}")
        check(abs(float(match[1]) - 440) < 0.5 and abs(float(match[2]) + 12) < 1.0, f"the spectrum says {text!r}")
        level = session.driver("text", "level")
        check(re.fullmatch(r"Level: peak -1[12]\.\d dBFS", level), f"the level panel says {level!r}")
        # The mouse over the harmonic: the panel's plot starts 5 average
        # characters in, and the logarithmic axis runs from 20 Hz to 24 kHz.
        left, top, right, bottom = session.rect("spectrum")
        plot_left, plot_right = left + 5 * 7, right - 2 * 7
        x = plot_left + round((plot_right - plot_left) * math.log(1320 / 20) / math.log(24000 / 20))
        # Where the labels' width puts the plot is the font's: a few columns
        # either side of the estimate, the loudest reading.
        readings = []
        for dx in range(-6, 7):
            subprocess.run(["xdotool", "mousemove", str(x + dx), str((top + bottom) // 2)], env=session.env,
                           check=True, timeout=30)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                text = session.driver("text", "spectrum")
                cursor = re.search(r"; cursor (\d+\.\d) Hz, (-?\d+\.\d|-inf) dBFS$", text)
                if cursor and (not readings or readings[-1][2] != text):
                    break
                time.sleep(0.1)
            check(cursor, f"no cursor in {text!r}")
            readings.append((float(cursor[1]), -999.0 if cursor[2] == "-inf" else float(cursor[2]), text, x + dx))
        hz, db, text, at = max(readings, key=lambda r: r[1])
        session.log.write(f"cursor readings: {readings}\n")
        check(abs(hz - 1320) < 40 and -70 < db < -55, f"the loudest reading near 1320 Hz is {text!r}")
        subprocess.run(["xdotool", "mousemove", str(at), str((top + bottom) // 2)], env=session.env, check=True,
                       timeout=30)
        time.sleep(0.5)
        session.screenshot("large_spectrum")
        # The menu key, then the access keys: linear, then the -90 dBFS floor.
        window = subprocess.run(["xdotool", "search", "--name", "^Vellora$"], env=session.env, capture_output=True,
                                text=True, check=True).stdout.split()[0]
        for key in ("i", "9"):
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=session.env, check=True, timeout=30)
            subprocess.run(["xdotool", "key", "--delay", "200", "shift+F10"], env=session.env, check=True, timeout=30)
            session.driver("rect", "menu")  # waits for it
            subprocess.run(["xdotool", "key", "--delay", "200", key], env=session.env, check=True, timeout=30)
            time.sleep(0.5)
        setting = subprocess.run(["wine", "reg", "query", r"HKCU\Software\Vellora", "/v", "SpectrumView"],
                                 env=session.env, capture_output=True, text=True, timeout=60).stdout
        check("linear dbfs -90 live" in setting, f"the view's choices were not remembered: {setting!r}")
        session.screenshot("linear")
        subprocess.run(["xdotool", "mousemove", str(x), str((top + bottom) // 2), "click", "3"], env=session.env,
                       check=True, timeout=30)
        session.driver("rect", "menu")
        subprocess.run(["xdotool", "key", "--delay", "200", "c"], env=session.env, check=True, timeout=30)
        time.sleep(0.5)
        copied = session.driver("clipboard")
        check(copied == "32769 Frequency (Hz)\tLevel (dBFS)", f"the clipboard holds {copied!r}")
        session.driver("click", "stop")
        session.wait_for_status(saved_to(windows_path(session.dir / "tone.wav")), '"Saved to: " and the path')
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
        # The next start: the same size, and the linear axis chosen, which
        # puts the middle of the plot at about 12 kHz (a logarithmic one at
        # about 700 Hz).
        session.start_app()
        again = session.rect("spectrum")
        check((again[2] - again[0], again[3] - again[1]) == (right - left, bottom - top), "the size was not remembered")
        left, top, right, bottom = again
        session.driver("click", "start")
        session.driver("save-as", windows_path(session.dir / "again.wav"))
        session.wait_for_status(lambda s: s.startswith("Recording... 0:02"), '"Recording..." for 2 s')
        subprocess.run(["xdotool", "mousemove", str((left + right) // 2), str((top + bottom) // 2)], env=session.env,
                       check=True, timeout=30)
        deadline = time.monotonic() + 10
        while not (cursor := re.search(r"; cursor (\d+\.\d) Hz", session.driver("text", "spectrum"))):
            check(time.monotonic() < deadline, "no cursor after the restart")
            time.sleep(0.2)
        check(9000 < float(cursor[1]) < 15000, f"after the restart the middle reads {cursor[1]} Hz: not linear")
        session.driver("click", "stop")
        session.wait_for_status(saved_to(windows_path(session.dir / "again.wav")), '"Saved to: " and the path')
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
    finally:
        for value in ("WindowPlace", "SpectrumView"):
            subprocess.run(["wine", "reg", "delete", r"HKCU\Software\Vellora", "/v", value, "/f"],
                           env=session.env, capture_output=True, timeout=60)


def menu_keys(session, *keys):
    """The menu key (Shift+F10) in the window, then the access keys."""
    window = subprocess.run(["xdotool", "search", "--name", "^Vellora$"], env=session.env, capture_output=True,
                            text=True, check=True).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=session.env, check=True, timeout=30)
    subprocess.run(["xdotool", "key", "--delay", "200", "shift+F10"], env=session.env, check=True, timeout=30)
    session.driver("rect", "menu")  # waits for it
    subprocess.run(["xdotool", "key", "--delay", "300", *keys], env=session.env, check=True, timeout=30)
    time.sleep(0.5)


SPECTROGRAM_CURSOR = re.compile(r"; cursor (\d+\.\d) Hz, (-?\d+\.\d|-inf) dBFS, (\d+\.\d) s ago$")


def spectrogram_reading(session, x, y):
    """The spectrogram's readout with the mouse at the screen point: (Hz, dBFS, seconds ago)."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=session.env, check=True, timeout=30)
    deadline, last = time.monotonic() + 5, getattr(session, "last_reading", None)
    while True:
        text = session.driver("text", "spectrum")
        cursor = SPECTROGRAM_CURSOR.search(text)
        if cursor and (text != last or time.monotonic() > deadline):
            break
        check(time.monotonic() < deadline, f"no spectrogram cursor at {x}, {y}: {text!r}")
        time.sleep(0.1)
    session.last_reading = text
    db = -999.0 if cursor[2] == "-inf" else float(cursor[2])
    return float(cursor[1]), db, float(cursor[3])


def spectrogram_row(session, x, hz, top, bottom):
    """The screen row whose readout is nearest the frequency on the
    logarithmic axis: from an estimate, corrected by what it reads."""
    y = (top + bottom) // 2
    for _ in range(4):
        read, _, _ = spectrogram_reading(session, x, y)
        if abs(math.log(read / hz)) < 0.01:
            break
        # Rows per factor of frequency, from the axis's span (20 Hz to Nyquist).
        per = (bottom - top) / math.log(session.rate / 2 / 20)
        y = min(bottom - 2, max(top + 2, y - round(math.log(hz / read) * per)))
    return y


def open_spectrogram(session, history_key, seconds):
    """The window nearly as large as the screen; the spectrogram and its
    history chosen with the menu's access keys, and remembered."""
    session.driver("window", "790", "570")
    menu_keys(session, "s")
    menu_keys(session, "t", history_key)
    setting = subprocess.run(["wine", "reg", "query", r"HKCU\Software\Vellora", "/v", "SpectrumView"],
                             env=session.env, capture_output=True, text=True, timeout=60).stdout
    check(f"log dbfs -120 live spectrogram 1 {seconds}" in setting, f"the choices were not remembered: {setting!r}")


def record_frozen_spectrogram(session, history_key, seconds, name, listen, *synth):
    """The program recording into NAME.wav on the spectrogram of that
    history, while sox's synth arguments play, frozen `listen` seconds
    later; returns the take's path."""
    session.start_app()
    open_spectrogram(session, history_key, seconds)
    path = session.dir / f"{name}.wav"
    session.driver("click", "start")
    session.driver("save-as", windows_path(path))
    session.wait_for_status(lambda s: s.startswith("Recording... "), '"Recording..."')
    session.play_synth(name, *synth)
    time.sleep(listen)
    menu_keys(session, "f")
    return path


def stop_and_close(session, path):
    session.driver("click", "stop")
    session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def forget_view(session):
    for value in ("WindowPlace", "SpectrumView"):
        subprocess.run(["wine", "reg", "delete", r"HKCU\Software\Vellora", "/v", value, "/f"],
                       env=session.env, capture_output=True, timeout=60)


def bright_runs(shot, row, left, right, brightness):
    """Where the screen row is brighter than that (the sum of its RGB), from
    left to right: [(start, width)] in pixels from left."""
    line = pixels(shot, (left, row, right, row + 1))
    runs, start = [], None
    for x in range(right - left + 1):
        on = x < right - left and sum(line[(x, 0)]) > brightness
        if on and start is None:
            start = x
        elif not on and start is not None:
            runs.append((start, x - start))
            start = None
    return runs


def case_spectrogram(session):
    """At 48 kHz, 1 kHz for 3 s and then 4 kHz: on the 10 s spectrogram,
    frozen, the readout finds each tone loud in its own row and quiet in the
    other's; along the two rows the 1 kHz lasts 3 s of the time axis and
    the 4 kHz begins where it ends. The picture goes to the clipboard."""
    try:
        path = record_frozen_spectrogram(session, "1", 10, "change", 5.5, "3", "sine", "1000", "vol", "0.25", ":",
                                         "synth", "30", "sine", "4000", "vol", "0.25")
        left, top, right, bottom = session.rect("spectrum")
        x_now = right - 8 * 7 - 3
        row_4k = spectrogram_row(session, x_now, 4000, top, bottom)
        row_1k = spectrogram_row(session, x_now, 1000, top, bottom)
        check(row_1k > row_4k + 20, f"4 kHz at row {row_4k}, 1 kHz at {row_1k}")
        # The time axis through the readout: pixels a second.
        _, loud, ago_now = spectrogram_reading(session, x_now, row_4k)
        _, quiet, _ = spectrogram_reading(session, x_now, row_1k)
        check(loud > -15 and quiet < -60, f"now: {loud} dBFS at 4 kHz, {quiet} dBFS at 1 kHz")
        _, _, ago_back = spectrogram_reading(session, x_now - 400, row_4k)
        per_second = 400 / (ago_back - ago_now)
        subprocess.run(["xdotool", "mousemove", str(left - 5), str(top - 5)], env=session.env, check=True, timeout=30)
        time.sleep(0.5)
        shot = session.screenshot("spectrogram_rows")
        plot_left = left + 5 * 7 + 5
        ones = bright_runs(shot, row_1k, plot_left, x_now, 500)
        fours = bright_runs(shot, row_4k, plot_left, x_now, 500)
        session.log.write(f"{per_second:.1f} px/s; bright along 1 kHz {ones}, along 4 kHz {fours}\n")
        one = max(ones, key=lambda r: r[1], default=(0, 0))
        four = max(fours, key=lambda r: r[1], default=(0, 0))
        check(abs(one[1] / per_second - 3.0) < 0.3, f"1 kHz lasts {one[1] / per_second:.2f} s: {ones}")
        check(four[0] + four[1] >= x_now - plot_left - 2, f"4 kHz does not reach now: {fours}")
        check(abs(four[0] - (one[0] + one[1])) / per_second < 0.2,
              f"4 kHz starts at {four[0]}, 1 kHz ends at {one[0] + one[1]} pixels")
        # In the middle of the 1 kHz part the readout says so.
        middle = plot_left + one[0] + one[1] // 2
        hz, at_1k, ago = spectrogram_reading(session, middle, row_1k)
        _, at_4k, _ = spectrogram_reading(session, middle, row_4k)
        check(at_1k > -15 and at_4k < -60 and abs(hz - 1000) < 30,
              f"{ago} s ago: {at_1k} dBFS at {hz} Hz, {at_4k} dBFS at 4 kHz")
        session.screenshot("spectrogram")
        menu_keys(session, "p")
        picture = session.driver("picture").split()
        check(len(picture) == 5 and (int(picture[0]), int(picture[1])) == (right - left, bottom - top),
              f"the clipboard's picture is {picture}, the panel {right - left} x {bottom - top}")
        stop_and_close(session, path)
    finally:
        forget_view(session)


def case_bat_calls(session):
    """At 192 kHz, calls of 10 ms at 50 kHz every 100 ms: on the 2 s
    spectrogram, frozen, the row at 50 kHz shows each call apart, bright
    and a few pixels wide, with the dark between them."""
    try:
        path = record_frozen_spectrogram(session, "2", 2, "calls", 4.0, "0.01", "sine", "50000", "vol", "0.5", "pad",
                                         "0", "0.09", "repeat", "300")
        left, top, right, bottom = session.rect("spectrum")
        plot_left, plot_right = left + 5 * 7 + 10, right - 8 * 7 - 3
        row = spectrogram_row(session, (plot_left + plot_right) // 2, 50000, top, bottom)
        subprocess.run(["xdotool", "mousemove", str(left - 5), str(top - 5)], env=session.env, check=True, timeout=30)
        time.sleep(0.5)
        shot = session.screenshot("bat_calls")
        runs = bright_runs(shot, row, plot_left, plot_right, 300)
        session.log.write(f"bright runs along 50 kHz (start, width): {runs}\n")
        gaps = [b[0] - (a[0] + a[1]) for a, b in zip(runs, runs[1:])]
        per_call = (plot_right - plot_left) / 2.0 * 0.1  # pixels between calls' starts
        check(len(runs) >= 12, f"{len(runs)} calls told apart in 2 s: {runs}")
        check(all(width <= per_call / 3 for _, width in runs), f"calls smeared: {runs}")
        check(all(gap >= per_call / 2 for gap in gaps), f"calls run together: {runs}")
        stop_and_close(session, path)
    finally:
        forget_view(session)


case_bat_calls.session = dict(rate=192000)


def case_choose_device(session):
    """Two microphones: the one picked from the device menu (with the mouse,
    then with the keyboard) is recorded at its own rate and channel count,
    and again after a restart; gone at the next start, the default is
    recorded, and the status line says so first."""
    usb = session.add_microphone("USBMic", 44100, 1)
    session.play_tone(1000, seconds=150)
    usb_tone = session.play_tone(2500, seconds=150, device="USBMic", rate=44100, channels=1)

    def record_usb(name):
        path = session.dir / name
        recorded, _ = record_started(session, windows_path(path), None, 3.0)
        session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
        check_wav(path, session, 2500, recorded, rate=44100, channels=1)

    def keys(*names):
        subprocess.run(["xdotool", "key", "--delay", "150", *names], env=session.env, check=True, timeout=30)

    def pick_with_keys(name):
        """Space opens the menu; the arrow keys walk one entry further down at
        each try, until Enter picks name. Counting on one exact number of
        presses failed now and then: Wine's menu does not always see each."""
        for presses in range(1, 8):
            keys("space")
            session.driver("rect", "menu")
            keys(*["Down"] * presses, "Return")
            time.sleep(0.5)
            if session.status() == "Microphone: " + name:
                session.log.write(f"picked {name!r} with {presses} presses of Down\n")
                return
        raise CaseFailure(f"the keyboard never picked {name!r}; last: {session.status()!r}")

    def restart():
        session.driver("close")
        check(session.wait_for_exit() == 0, "exit code is not 0")
        session.start_app()

    try:
        session.start_app()
        pick_last_device(session)
        record_usb("usb.wav")

        # Remembered at the next start, and named. The keyboard: Tab to the
        # button, Space opens the menu, the arrows and Enter pick.
        restart()
        # Said once the window is up: the devices are asked for after it shows.
        session.wait_for_status(lambda s: s == "Ready: Monitor of USBMic", '"Ready: Monitor of USBMic"')
        record_usb("usb_again.wav")
        window = subprocess.run(["xdotool", "search", "--name", "^Vellora$"], env=session.env, capture_output=True,
                                text=True, check=True).stdout.split()[0]
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=session.env, check=True, timeout=30)
        # The pointer out of the menu's way: an entry under it is selected
        # whenever the mouse is heard of, in the middle of the arrow keys.
        subprocess.run(["xdotool", "mousemove", "790", "590"], env=session.env, check=True, timeout=30)
        keys("Tab", "Tab")
        check(session.driver("focus") == "device", "Tab does not reach the device button")
        pick_with_keys("Default device")
        pick_with_keys("Monitor of USBMic")

        # Unplugged, then started: the default, said aloud, and recorded. Its
        # tone first: PulseAudio would move it to the default microphone.
        usb_tone.kill()
        usb_tone.wait()
        session.remove_microphone(usb)
        restart()
        status = session.wait_for_status(lambda s: s != "Ready", "the start's word on the device")
        check(status == NOT_CONNECTED, f"status at start: {status!r}")
        record_default_and_close(session)
    finally:
        forget_device_choice(session)


case_choose_device.session = dict(channels=2)


def case_chosen_device_unplugged(session):
    """The chosen microphone is unplugged while Vellora runs, where Wine's
    list of devices does not change: Start tells that it is not connected,
    with no box, and the next Start records the default."""
    usb = session.add_microphone("USBMic", 44100, 1)
    session.play_tone(1000, seconds=150)
    usb_tone = session.play_tone(2500, seconds=150, device="USBMic", rate=44100, channels=1)
    try:
        session.start_app()
        pick_last_device(session)
        # Its tone first: PulseAudio would move it to the default microphone.
        usb_tone.kill()
        usb_tone.wait()
        session.remove_microphone(usb)
        session.driver("click", "start")
        session.driver("save-as", windows_path(session.dir / "never.wav"))
        status = session.wait_for_status(lambda s: not s.startswith(("Microphone: ", "Recording...")), "the Start's end")
        check(status == NOT_CONNECTED, f"status after Start: {status!r}")
        record_default_and_close(session)
    finally:
        forget_device_choice(session)


NOT_CONNECTED = "Monitor of USBMic is not connected: recording the default device."


def record_default_and_close(session):
    """A take of the default microphone, which plays 1000 Hz; then the program ends."""
    path = session.dir / "default.wav"
    recorded, _ = record_started(session, windows_path(path), None, 3.0)
    session.wait_for_status(saved_to(windows_path(path)), '"Saved to: " and the path')
    check_wav(path, session, 1000, recorded)
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def pick_last_device(session):
    """With the mouse: the device button, then "Monitor of USBMic" in its
    menu. Wine lists the devices in an order of its own, which differs from
    one prefix to the next, and a device of its own beside them: the menu is
    tried from the bottom up, 10 pixels higher each time (an entry is 16),
    until the status line names the one wanted."""
    wanted = "Microphone: Monitor of USBMic"
    for attempt in range(2):
        if attempt:
            # Not listed: Wine may not have heard of the device plugged in
            # just before the program asked. It lists them anew at a start.
            session.driver("close")
            check(session.wait_for_exit() == 0, "exit code is not 0")
            session.start_app()
        left, top, right, bottom = session.rect("device")
        button = [str((left + right) // 2), str((top + bottom) // 2)]
        y, status = None, session.status()
        while True:
            before = status
            subprocess.run(["xdotool", "mousemove", *button, "click", "1"], env=session.env, check=True, timeout=30)
            left, top, right, bottom = map(int, session.driver("rect", "menu").split())
            y = bottom - 5 if y is None else y - 10
            if y < top + 5:
                subprocess.run(["xdotool", "key", "Escape"], env=session.env, check=True, timeout=30)
                break
            subprocess.run(["xdotool", "mousemove", str((left + right) // 2), str(y), "click", "1"],
                           env=session.env, check=True, timeout=30)
            # The same entry again leaves the status line as it was.
            deadline = time.monotonic() + 2.0
            while time.monotonic() < deadline:
                status = session.status()
                if status.startswith("Microphone: ") and status != before:
                    break
                time.sleep(0.2)
            session.log.write(f"menu {top}..{bottom}, picked at {y}: {status}\n")
            if status == wanted:
                time.sleep(0.5)  # not a late word of the click before
                if session.status() == wanted:
                    return
    raise CaseFailure(f"no entry of the device menu picked {wanted!r}")


def forget_device_choice(session):
    """The choice outlives the program, in the prefix the other cases share."""
    for value in ("RecordingDevice", "RecordingDeviceName"):
        subprocess.run(["wine", "reg", "delete", r"HKCU\Software\Vellora", "/v", value, "/f"], env=session.env,
                       capture_output=True, timeout=60)


def case_clipping(session):
    """A tone at full scale clips: the status line says so while recording
    and after, and the level panel's clip light stays lit after Stop; at the
    next Start it goes out, and a tone at -0.9 dBFS does not light it."""
    session.start_app()
    loud = session.play_tone(1000, volume=1.0)
    path = session.dir / "loud.wav"
    session.driver("click", "start")
    session.driver("save-as", windows_path(path))
    session.wait_for_status(lambda s: re.fullmatch(r"Recording\.\.\. \d:\d\d \(clipped \d+ times?\)", s),
                            '"(clipped N times)"')
    time.sleep(2.0)
    check_panels(session, session.screenshot("clipping"), 1000, clipped=True)
    session.driver("click", "stop")
    status = session.wait_for_status(lambda s: s.startswith("Saved to: "), '"Saved to: "')
    check(re.fullmatch(re.escape("Saved to: " + windows_path(path)) + r" \(clipped \d+ times\)", status),
          f"after Stop: {status!r}")
    check(clip_light(session, session.screenshot("stopped")), "the clip light went out at Stop")
    _, samples = read_wav(path)
    check(max(abs(s) for s in samples) >= 32734, f"the file peaks at {max(abs(s) for s in samples)}")

    loud.kill()
    loud.wait()
    quiet = session.dir / "quiet.wav"
    session.play_tone(1000, volume=0.9)
    recorded, shot = record_started(session, windows_path(quiet), None, 3.0)
    session.wait_for_status(saved_to(windows_path(quiet)), '"Saved to: " and the path, without clipping')
    check_panels(session, shot, 1000, peak=0.9)
    check_wav(quiet, session, 1000, recorded)
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def case_status_texts(session):
    """At 96 DPI every status text fits the line in the message font."""
    session.start_app()
    check_status_texts_fit(session)
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")


def case_close_while_starting(session):
    """WM_CLOSE queued right behind the Save dialog's OK, onto a path that
    cannot be written: the window is destroyed while the recording thread
    starts, and the program must still end."""
    session.start_app()
    session.driver("click", "start")
    session.driver("save-as-close", "Z:\\proc\\take.wav")
    check(session.wait_for_exit(timeout=30) == 0, "exit code is not 0")


def case_installer(session):
    """The installer, run silently in a fresh prefix, puts the program, its
    README, the uninstaller and a Start-menu shortcut where it promised; the
    installed program records; the uninstaller removes all it installed."""
    installers = sorted((session.build_dir.parent / "release").glob("Vellora-*-setup.exe"))
    check(len(installers) == 1, f"expected one installer in build/release, found {installers}")
    session.wine(installers[0], "/S")
    users = [u for u in (session.prefix / "drive_c/users").iterdir() if (u / "AppData/Local").is_dir()]
    check(len(users) == 1, f"no single user profile in the prefix: {users}")
    folder = users[0] / "AppData/Local/Programs/Vellora"
    shortcut = users[0] / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Vellora.lnk"
    key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellora"
    installed = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else []
    check(installed == ["README.txt", "Uninstall.exe", "Vellora.exe"], f"installed files: {installed}")
    released = installers[0].with_name(installers[0].name.replace("-setup.exe", "")) / "Vellora.exe"
    check((folder / "Vellora.exe").read_bytes() == released.read_bytes(), "the installed program is not the one released")
    check(shortcut.is_file(), "no Start-menu shortcut")
    entry = session.wine("reg", "query", key)
    check("Uninstall.exe" in entry and "DisplayName" in entry, f"no uninstall entry: {entry!r}")

    session.exe = folder / "Vellora.exe"
    path = session.dir / "installed.wav"
    windows_path = f"Z:{path}".replace("/", "\\")
    recorded, _ = record(session, windows_path, 3000, 3.0)
    session.wait_for_status(saved_to(windows_path), '"Saved to: " and the path')
    check_wav(path, session, 3000, recorded)
    session.driver("close")
    check(session.wait_for_exit() == 0, "exit code is not 0")

    session.wine(folder / "Uninstall.exe", "/S")
    check(not folder.exists(), f"left after uninstalling: {list(folder.rglob('*')) if folder.exists() else []}")
    check(not shortcut.exists(), "the Start-menu shortcut is left after uninstalling")
    check(session.wine("reg", "query", key, check_exit=False) == "", "the uninstall entry is left")


case_installer.session = dict(fresh_prefix=True)

# The longest first, so that the last to end is a short one.
CASES = {
    "installer": case_installer,
    "choose_device": case_choose_device,
    "memory_192000": case_memory_192000,
    "spectrogram": case_spectrogram,
    "bat_calls": case_bat_calls,
    "large_spectrum": case_large_spectrum,
    "dpi_144": case_dpi_144,
    "mono_48000": tone_case(48000, 1, 3000),
    "stereo_44100": tone_case(44100, 2, 5000),
    "non_ascii_name": case_non_ascii_name,
    "unwritable_path": case_unwritable_path,
    "close_while_recording": case_close_while_recording,
    "no_device": case_no_device,
    "four_channel_mic": case_four_channel_mic,
    "device_removed": case_device_removed,
    "close_while_starting": case_close_while_starting,
    "status_texts": case_status_texts,
    "chosen_device_unplugged": case_chosen_device_unplugged,
    "clipping": case_clipping,
    "keyboard": case_keyboard,
    "killed_while_recording": case_killed_while_recording,
    "session_end": case_session_end,
    "full_disk": case_full_disk,
    "disk_pulled": case_disk_pulled,
    "session_end_while_asking": case_session_end_while_asking,
    "eight_channel_mic": case_eight_channel_mic,
    "resize": case_resize,
}


CASE_PASSED, CASE_FAILED, CASE_SKIPPED = 0, 1, 3  # exit codes of one case's run


def run_case(name, build_dir, out_dir, prefix):
    """Runs one case in its own session on that Wine prefix; returns its exit code."""
    case = CASES[name]
    started = time.monotonic()
    try:
        options = dict(getattr(case, "session", {}))
        case_prefix = out_dir / name / "wineprefix" if options.pop("fresh_prefix", False) else prefix
        with Session(name, build_dir, out_dir, case_prefix, **options) as session:
            def too_long(*_):
                raise CaseFailure(f"time limit of {CASE_TIME_LIMIT} s exceeded")
            signal.signal(signal.SIGALRM, too_long)
            signal.alarm(CASE_TIME_LIMIT)
            try:
                case(session)
            except BaseException:
                session.screenshot("failure")
                raise
            finally:
                signal.alarm(0)
        # The folder stays: the Save dialog remembers the last one it
        # visited and misbehaves when that has gone. The big files go.
        for tone in (out_dir / name).glob("tone_*.wav"):
            tone.unlink()
        print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
        return CASE_PASSED
    except CaseSkipped as reason:
        print(f"SKIP {name}: {reason}", flush=True)
        return CASE_SKIPPED
    except Exception as error:
        print(f"FAIL {name}: {error}", flush=True)
        traceback.print_exc(file=sys.stdout)
        print(f"     screenshots and logs kept in {out_dir / name}", flush=True)
        return CASE_FAILED


def main():
    """Runs the cases E2E_JOBS at a time (2 unless set), each in a process of
    its own. Each of the jobs has a Wine prefix of its own, which its cases
    share one after the other, as they share a user's settings: a case that
    changes one puts it back. A case's output is printed whole once it ends."""
    if sys.argv[1] == "--one":
        prefix, build_dir, out_dir = (Path(a) for a in sys.argv[2:5])
        return run_case(sys.argv[5], build_dir, out_dir, prefix)
    build_dir, out_dir = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    chosen = sys.argv[3:] or list(CASES)
    unknown = [name for name in chosen if name not in CASES]
    if unknown:
        print(f"no such case: {', '.join(unknown)}")
        return 2
    out_dir.mkdir(parents=True, exist_ok=True)
    jobs = max(1, int(os.environ.get("E2E_JOBS", "2")))
    free = [out_dir / f"wineprefix-{job}" for job in range(jobs)]
    waiting, running, codes = list(chosen), {}, []
    while waiting or running:
        while waiting and free:
            name, prefix = waiting.pop(0), free.pop(0)
            output = open(out_dir / f"{name}.out", "w+", encoding="utf-8")
            process = subprocess.Popen([sys.executable, __file__, "--one", str(prefix), str(build_dir),
                                        str(out_dir), name], stdout=output, stderr=subprocess.STDOUT)
            running[process] = (name, prefix, output)
        ended = next((p for p in running if p.poll() is not None), None)
        if ended is None:
            time.sleep(0.2)
            continue
        name, prefix, output = running.pop(ended)
        free.append(prefix)
        output.seek(0)
        sys.stdout.write(output.read())
        sys.stdout.flush()
        output.close()
        codes.append(ended.returncode if ended.returncode in (CASE_PASSED, CASE_SKIPPED) else CASE_FAILED)
    passed, failed, skipped = (codes.count(c) for c in (CASE_PASSED, CASE_FAILED, CASE_SKIPPED))
    print(f"e2e: {passed} passed, {failed} failed, {skipped} skipped")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
