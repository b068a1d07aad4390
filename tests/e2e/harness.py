"""A private desktop, microphone and Wine for one end-to-end case.

Each Session starts its own Xvfb display, its own PulseAudio server whose
default source is the monitor of a null sink (a live virtual microphone), and
runs Vellora.exe and the test driver under Wine on them. Every process it
starts is ended by its process id when the session closes, on success and on
failure alike.
"""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path


LAST_VISITED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\LastVisitedMRU"


class CaseFailure(AssertionError):
    pass


class CaseSkipped(Exception):
    """The machine cannot run the case (not a failure of the program)."""


class DriverFailure(CaseFailure):
    """A driver run that ended with an exit code other than 0."""

    OWN_FAILURE = 2  # what VelloraDriver.exe exits with when it could not do its job

    def __init__(self, message, code):
        super().__init__(message)
        self.code = code


def check(condition, message):
    if not condition:
        raise CaseFailure(message)


class Session:
    def __init__(self, name, build_dir, out_dir, prefix_dir, rate=48000, channels=1, device=True):
        self.name = name
        self.build_dir = Path(build_dir)
        self.exe = Path(build_dir) / "platform/win32/Vellora.exe"
        self.driver_exe = Path(build_dir) / "tests/e2e/VelloraDriver.exe"
        self.dir = Path(out_dir) / name
        self.prefix = Path(prefix_dir)
        self.rate = rate
        self.channels = channels
        self.device = device
        self.processes = []
        self.app = None
        self.log = None

    # -- set-up and tear-down ---------------------------------------------

    def __enter__(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        self.log = open(self.dir / "session.log", "w", encoding="utf-8")
        try:
            self._start_display()
            self._start_audio()
            self._prepare_prefix()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _spawn(self, args, **kwargs):
        self.log.write("$ " + " ".join(str(a) for a in args) + "\n")
        self.log.flush()
        process = subprocess.Popen(args, stdout=kwargs.pop("stdout", self.log), stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True, **kwargs)
        self.processes.append(process)
        return process

    def _start_display(self):
        read_end, write_end = os.pipe()
        self._spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                    pass_fds=[write_end])
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        check(number, "Xvfb did not start")
        self.display = ":" + number

    def _start_audio(self):
        runtime = self.dir / "run"
        runtime.mkdir(exist_ok=True)
        runtime.chmod(0o700)
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": self.display,
            "XDG_RUNTIME_DIR": str(runtime),
            "PULSE_SERVER": "unix:" + str(runtime / "pulse/native"),
            "HOME": str(self.dir),
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "LANG": "C.UTF-8",
        })
        modules = ["-L", "module-native-protocol-unix"]
        if self.device:
            modules += ["-L", f"module-null-sink sink_name=mic rate={self.rate} channels={self.channels}"]
        self._spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                     "--use-pid-file=no", "--disable-shm=yes"] + modules, env=self.env)
        deadline = time.monotonic() + 15
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode != 0:
            check(time.monotonic() < deadline, "PulseAudio did not start")
            time.sleep(0.1)
        if self.device:
            subprocess.run(["pactl", "set-default-sink", "mic"], env=self.env, check=True)
            subprocess.run(["pactl", "set-default-source", "mic.monitor"], env=self.env, check=True)

    def _prepare_prefix(self):
        if (self.prefix / "system.reg").exists():
            return
        self.prefix.mkdir(parents=True, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=self.env, stdout=self.log, stderr=subprocess.STDOUT, timeout=180)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)

    def close(self):
        if self.app is not None and self.app.poll() is None:
            self._end(self.app)
        for process in reversed(self.processes):
            self._end(process)
        # The wineserver of the prefix outlives its last client for a while;
        # the next case must start one with its own display and audio server.
        if hasattr(self, "env"):
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)
            subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=30)
        if self.log:
            self.log.close()
            self.log = None

    @staticmethod
    def _end(process):
        if process.poll() is not None:
            return
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=5)

    # -- the program and the driver ---------------------------------------

    def start_app(self):
        # The Save dialog opens in the folder it last saved to, which an
        # earlier case may have removed; forget it, so that it opens here.
        subprocess.run(["wine", "reg", "delete", LAST_VISITED_KEY, "/f"], env=self.env, capture_output=True,
                       timeout=60)
        self.app = self._spawn(["wine", str(self.exe)], env=self.env, cwd=self.dir)
        try:
            self.driver("find", timeout=60)
        except CaseFailure as failure:
            raise CaseFailure(f"{failure}; {self.where_the_program_waits()}") from failure

    def where_the_program_waits(self):
        """Whether the program still runs and, if so, where its threads wait
        (winedbg's backtraces, kept in the case's folder): a hang of ours
        shows there, a slow Wine does not."""
        if self.app is None or self.app.poll() is not None:
            return f"the program has ended (exit code {self.app.returncode if self.app else None})"
        traces = self.dir / "backtraces.txt"
        try:
            result = subprocess.run(["winedbg", "--command", "bt all"], env=self.env, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=60)
            traces.write_bytes(result.stdout + result.stderr)
        except subprocess.TimeoutExpired:
            return "the program runs; winedbg did not answer within 60 s"
        frames = [line for line in traces.read_text("utf-8", "replace").splitlines() if " in vellora " in line]
        return f"the program runs; its threads' backtraces are in {traces} ({len(frames)} frames in Vellora.exe)"

    # The driver's commands that only read the window: run again when Wine
    # failed to start them. On a loaded machine a driver run has been seen to
    # end with exit code 1 and no message while the program was well. The
    # driver prints a message and exits with 2 whenever it fails itself, so
    # that exit came from Wine starting it (whose own messages WINEDEBUG=-all
    # silences). A command that acts is never run twice.
    QUERIES = frozenset({"status", "rect", "buttons", "focus", "measure", "text", "clipboard", "picture"})
    QUERY_ATTEMPTS = 3

    def driver(self, *args, timeout=30, check_exit=True):
        attempts = self.QUERY_ATTEMPTS if args[0] in self.QUERIES else 1
        for attempt in range(1, attempts + 1):
            code, out, err = self._run_driver(args, timeout)
            if code in (0, DriverFailure.OWN_FAILURE) or out or err or attempt == attempts:
                break
            self.log.write(f"driver {' '.join(args)}: Wine failed to start it, run again\n")
        if check_exit and code != 0:
            raise DriverFailure(f"driver {' '.join(args)} failed with exit code {code}: {err}", code)
        return out

    def _run_driver(self, args, timeout):
        # Output goes through files, not pipes: a Wine service process that
        # the driver happens to start would inherit a pipe and hold it open.
        out_path, err_path = self.dir / "driver.out", self.dir / "driver.err"
        with open(out_path, "wb") as out_file, open(err_path, "wb") as err_file:
            process = subprocess.Popen(["wine", str(self.driver_exe), *args], env=self.env, stdout=out_file,
                                       stderr=err_file, stdin=subprocess.DEVNULL, start_new_session=True)
            try:
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self._end(process)
                raise CaseFailure(f"driver {' '.join(args)} did not return within {timeout} s")
        out = out_path.read_bytes().decode("utf-8", "replace").strip()
        err = err_path.read_bytes().decode("utf-8", "replace").strip()
        self.log.write(f"driver {' '.join(args)} -> {code}: {out} {err}\n")
        self.log.flush()
        return code, out, err

    def wine(self, program, *args, check_exit=True, timeout=120):
        """Runs a Windows program to its end, and everything it started (an
        uninstaller hands over to a copy of itself); returns its output."""
        result = subprocess.run(["wine", str(program), *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)
        self.log.write(f"wine {program} {' '.join(map(str, args))} -> {result.returncode}\n")
        if check_exit:
            check(result.returncode == 0, f"{Path(program).name} {' '.join(map(str, args))} exited with {result.returncode}")
        return result.stdout.decode("utf-8", "replace").strip() if result.returncode == 0 else ""

    def status(self):
        return self.driver("status")

    def wait_for_status(self, predicate, what, timeout=30):
        # A poll that Wine failed even when run again is made again until the
        # deadline; a failure of the driver's own ends the case.
        deadline = time.monotonic() + timeout
        text, failure = "", ""
        while time.monotonic() < deadline:
            try:
                text = self.status()
            except DriverFailure as error:
                if error.code == DriverFailure.OWN_FAILURE:
                    raise
                failure = str(error)
            else:
                if predicate(text):
                    return text
            time.sleep(0.2)
        raise CaseFailure(f"status line never showed {what}; last: {text!r}"
                          + (f"; last failed poll: {failure}" if failure else ""))

    def rect(self, control):
        return tuple(int(v) for v in self.driver("rect", control).split())

    def wait_for_exit(self, timeout=30):
        try:
            return self.app.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise CaseFailure(f"Vellora.exe did not exit within {timeout} s")

    # -- the microphone and the screen ------------------------------------

    def play_tone(self, frequency, seconds=60, device="mic", rate=None, channels=None, volume=0.5):
        """A sine of the frequency at volume (1.0: full scale, 0.5: -6 dBFS)."""
        rate, channels = rate or self.rate, channels or self.channels
        tone = self.dir / f"tone_{frequency}_{volume}.wav"
        subprocess.run(["sox", "-D", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", str(tone),
                        "synth", str(seconds), "sine", str(frequency), "vol", str(volume)], check=True)
        return self._spawn(["paplay", "-d", device, str(tone)], env=self.env)

    def add_microphone(self, name, rate, channels):
        """Plugs in one more virtual microphone: a null sink, whose monitor
        source Wine lists as "Monitor of NAME". Returns its module's index."""
        return subprocess.run(["pactl", "load-module", "module-null-sink", f"sink_name={name}", f"rate={rate}",
                               f"channels={channels}", f"sink_properties=device.description={name}"],
                              env=self.env, check=True, capture_output=True, text=True, timeout=30).stdout.strip()

    def play_mixed(self, tones, seconds=60):
        """Sines of the (frequency, volume) pairs mixed, on every channel."""
        parts = []
        for frequency, volume in tones:
            part = self.dir / f"part_{frequency}_{volume}.wav"
            subprocess.run(["sox", "-D", "-n", "-r", str(self.rate), "-c", str(self.channels), "-b", "32", str(part),
                            "synth", str(seconds), "sine", str(frequency), "vol", str(volume)], check=True)
            parts.append(str(part))
        mixed = self.dir / "tone_mixed.wav"
        subprocess.run(["sox", "-D", "-m", "-v", "1", parts[0], "-v", "1", *parts[1:], "-b", "16", str(mixed)],
                       check=True)
        return self._spawn(["paplay", "-d", "mic", str(mixed)], env=self.env)

    def play_synth(self, name, *synth):
        """What sox synthesises with those arguments (after "synth"), at the microphone's rate and channels."""
        tone = self.dir / f"tone_{name}.wav"
        # The rate given ahead of -n too: sox synthesises at 48 kHz otherwise,
        # and a tone above 24 kHz folds down.
        rate = ["-r", str(self.rate), "-c", str(self.channels)]
        subprocess.run(["sox", "-D", *rate, "-n", *rate, "-b", "16", str(tone), "synth", *map(str, synth)], check=True)
        return self._spawn(["paplay", "-d", "mic", str(tone)], env=self.env)

    def play_tones(self, frequencies, seconds=60):
        """A different tone on each channel of the microphone, in channel order."""
        tone = self.dir / "tone_channels.wav"
        synth = []
        for frequency in frequencies:
            synth += ["sine", str(frequency)]
        subprocess.run(["sox", "-D", "-n", "-r", str(self.rate), "-c", str(len(frequencies)), "-b", "16", str(tone),
                        "synth", str(seconds)] + synth + ["vol", "0.5"], check=True)
        return self._spawn(["paplay", "-d", "mic", str(tone)], env=self.env)

    def remove_microphone(self, module="module-null-sink"):
        """Unplugs the virtual microphone (or the one of that module index): its
        sink, and so the monitor source, goes away."""
        subprocess.run(["pactl", "unload-module", module], env=self.env, check=True, timeout=30)

    def screenshot(self, name):
        path = self.dir / f"{name}.png"
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)], check=True,
                       env=self.env, timeout=30)
        return path


def pixels(png, rect):
    """The RGB pixels of a screen rectangle, as {(x, y): (r, g, b)} in rectangle coordinates."""
    left, top, right, bottom = rect
    out = subprocess.run(["convert", str(png), "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                          "+repage", "-depth", "8", "txt:-"], capture_output=True, check=True).stdout.decode()
    result = {}
    for line in out.splitlines()[1:]:
        position, _, rest = line.partition(":")
        x, y = (int(v) for v in position.split(","))
        values = rest.strip().split(")")[0].lstrip("(").split(",")
        result[(x, y)] = tuple(int(float(v)) for v in values[:3])
    return result
