#!/usr/bin/env python3
"""Checks what scripts/package.sh made, without running it: the zip's
contents, and the resources a Windows user's Explorer reads from
Vellora.exe (manifest, version, icon), read with icoutils' wrestool.

Usage: check_release.py BUILD_DIR RELEASE_DIR
BUILD_DIR holds the mingw-w64 build (its CMakeCache.txt gives the version).
"""

import re
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def resource(exe, kind):
    result = subprocess.run(["wrestool", "-x", "--raw", "-t", str(kind), str(exe)], capture_output=True)
    return result.stdout if result.returncode == 0 else b""


def version_strings(data):
    """The StringFileInfo of a VS_VERSIONINFO: UTF-16 keys, each followed by
    its value. A key comes right after its entry's header, whose last word,
    wType, is 1 for text."""
    tokens = [t for t in data.decode("utf-16-le", "replace").split("\0") if t.strip()]
    return {key.rpartition("\x01")[2]: tokens[i + 1] for i, key in enumerate(tokens[:-1]) if "\x01" in key}


def fixed_version(data):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    _, _, ms, ls, pms, pls = struct.unpack_from("<IIIIII", data, at)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)


def icon_sizes(data):
    """Widths and heights in a GRPICONDIR (0 stands for 256)."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    sizes = []
    for i in range(count):
        width, height = struct.unpack_from("<BB", data, 6 + 14 * i)
        sizes.append((width or 256, height or 256))
    return kind, sizes


def main():
    build_dir, release_dir = Path(sys.argv[1]), Path(sys.argv[2])
    cache = (build_dir / "CMakeCache.txt").read_text()
    version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", cache, re.M).group(1)
    quad = tuple(int(v) for v in version.split(".")) + (0,)
    exe = build_dir / "platform/win32/Vellora.exe"

    archive = release_dir / f"Vellora-{version}-windows-x64.zip"
    installer = release_dir / f"Vellora-{version}-setup.exe"
    check(installer.is_file() and installer.stat().st_size > 100_000, f"no installer {installer.name}")
    if check(archive.is_file(), f"no zip {archive.name}"):
        with zipfile.ZipFile(archive) as z:
            check(sorted(z.namelist()) == ["README.txt", "Vellora.exe"], f"zip holds {z.namelist()}")
            check(z.read("Vellora.exe") == exe.read_bytes(), "the zip's Vellora.exe is not the one built")
            readme = z.read("README.txt").decode("utf-8")
            check(f"Vellora {version}" in readme and "\r\n" in readme and "@" not in readme,
                  "README.txt lacks the version, Windows line ends, or has a placeholder left")

    imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True,
                             text=True).stdout
    dlls = sorted(set(re.findall(r"DLL Name: (\S+)", imports)))
    check(not [d for d in dlls if d.lower().startswith(("libstdc++", "libgcc", "libwinpthread"))],
          f"Vellora.exe needs DLLs that Windows does not have: {dlls}")

    manifest = resource(exe, 24).decode("utf-8", "replace")
    check('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in manifest,
          "the manifest does not ask for Common Controls 6")
    check('level="asInvoker"' in manifest, "the manifest does not run as the invoker")
    found = set(re.findall(r'supportedOS Id="([^"]+)"', manifest))
    check(found == set(SUPPORTED_OS), f"supportedOS: {sorted(found)}")
    check(">true/pm</dpiAware>" in manifest and ">PerMonitorV2, PerMonitor</dpiAwareness>" in manifest,
          "the program does not declare itself aware of each screen's DPI")
    check(f'version="{".".join(map(str, quad))}"' in manifest, "the manifest's version is not the project's")

    info = resource(exe, 16)
    strings = version_strings(info)
    for key, value in {"ProductName": "Vellora", "FileVersion": version, "ProductVersion": version,
                       "OriginalFilename": "Vellora.exe"}.items():
        check(strings.get(key) == value, f"version resource {key} = {strings.get(key)!r}, expected {value!r}")
    check("FileDescription" in strings, "no FileDescription")
    check(fixed_version(info) == (quad, quad), f"fixed file version {fixed_version(info)}, expected {quad}")

    kind, sizes = icon_sizes(resource(exe, 14))
    check(kind == 1 and {(16, 16), (32, 32), (48, 48), (256, 256)} <= set(sizes), f"icon sizes {sizes}")

    for failure in failures:
        print("FAIL release:", failure)
    print(f"release: {'0 failed' if not failures else f'{len(failures)} failed'} ({archive.name}, {installer.name})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
