#!/usr/bin/env bash
# Makes the Windows installer and the .zip from a Windows build, in one run:
#   package-windows.sh BUILD_DIR [OUT_DIR]
# BUILD_DIR is a build of scripts/build-windows.sh; OUT_DIR defaults to
# BUILD_DIR/package. Writes OUT_DIR/tarnwick-VERSION-setup.exe (NSIS:
# Program Files, Start menu, uninstaller, the shared settings file) and
# OUT_DIR/tarnwick-VERSION-win32.zip (the program and its read-me).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package-windows.sh BUILD_DIR [OUT_DIR]}" && pwd)
out=${2:-$build/package}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n "$version" ]] || { echo "package-windows: no project version in $build/CMakeCache.txt" >&2; exit 1; }
[[ -f "$build/tarnwick.exe" ]] || { echo "package-windows: $build/tarnwick.exe is missing; build first" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Symbols are of no use to a user; the resources (icon, version) stay.
i686-w64-mingw32-strip -o "$stage/tarnwick.exe" "$build/tarnwick.exe"
# Windows users read text files with CR LF.
sed 's/$/\r/' "$root/packaging/windows/readme.txt" >"$stage/readme.txt"

setup="$out/tarnwick-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DEXE="$stage/tarnwick.exe" -DREADME="$stage/readme.txt" \
  -DICON="$build/tarnwick.ico" -DOUTFILE="$setup" "$root/packaging/windows/tarnwick.nsi"

archive="$out/tarnwick-$version-win32.zip"
rm -f "$archive"
mkdir -p "$stage/Tarnwick"
cp "$stage/tarnwick.exe" "$stage/readme.txt" "$stage/Tarnwick/"
(cd "$stage" && zip -q -X -r "$archive" Tarnwick)

echo "package-windows: $setup"
echo "package-windows: $archive"
