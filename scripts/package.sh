#!/usr/bin/env bash
# Builds the release Vellora.exe and packages it for Windows users under
# build/release/: a zip (Vellora.exe and README.txt) and an installer made
# with NSIS. The preset may be given: the test command packages the
# Vellora.exe that mingw-tests built with the same flags, rather than build
# it twice.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-mingw}
scripts/setup.sh
cmake --preset "$preset" > /dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target Vellora

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
out=build/release
stage=$out/Vellora-$version
rm -rf "$out"
mkdir -p "$stage"
cp "build/$preset/platform/win32/Vellora.exe" "$stage/"
# Notepad before Windows 10 shows a file with bare line feeds as one line.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' packaging/README.txt > "$stage/README.txt"

(cd "$stage" && python3 -m zipfile -c "../Vellora-$version-windows-x64.zip" Vellora.exe README.txt)
makensis -V2 -DVERSION="$version" -DVERSION_QUAD="$version.0" -DSTAGE="$(realpath "$stage")" \
  -DICON="$(realpath platform/win32/resources/vellora.ico)" \
  -DOUTFILE="$(realpath "$out")/Vellora-$version-setup.exe" packaging/vellora.nsi
echo "Release files in $out:"
ls -l "$out"
