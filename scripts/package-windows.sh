#!/usr/bin/env bash
# Makes the Windows installer and the .zip from a Windows build, in one run:
#   package-windows.sh BUILD_DIR [OUT_DIR]
# BUILD_DIR is a build of scripts/build-windows.sh; OUT_DIR defaults to
# BUILD_DIR/package. The package is of the build's architecture: for the
# 32-bit program OUT_DIR/tarnwick-VERSION-setup.exe (NSIS: Program Files,
# Start menu, uninstaller, the shared settings file) and
# OUT_DIR/tarnwick-VERSION-win32.zip (the program and its read-me); for the
# x86-64 build tarnwick-VERSION-x64-setup.exe, a 64-bit installer, and
# tarnwick-VERSION-win64.zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package-windows.sh BUILD_DIR [OUT_DIR]}" && pwd)
out=${2:-$build/package}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n "$version" ]] || { echo "package-windows: no project version in $build/CMakeCache.txt" >&2; exit 1; }
for exe in tarnwick.exe tarnwick-guard.exe; do
  [[ -f "$build/$exe" ]] || { echo "package-windows: $build/$exe is missing; build first" >&2; exit 1; }
done
arch=$(sed -n 's/^TARNWICK_WIN_ARCH:INTERNAL=//p' "$build/CMakeCache.txt")
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
case "$arch" in
  x86_64) setup_name="tarnwick-$version-x64-setup.exe" zip_name="tarnwick-$version-win64.zip" ;;
  *) setup_name="tarnwick-$version-setup.exe" zip_name="tarnwick-$version-win32.zip" arch=i686 ;;
esac

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Symbols are of no use to a user; the resources (icon, version) stay.
"${strip:-i686-w64-mingw32-strip}" -o "$stage/tarnwick.exe" "$build/tarnwick.exe"
# The guardian that unkeys the node if the program dies keyed: beside it.
"${strip:-i686-w64-mingw32-strip}" -o "$stage/tarnwick-guard.exe" "$build/tarnwick-guard.exe"
# Windows users read text files with CR LF.
sed 's/$/\r/' "$root/packaging/windows/readme.txt" >"$stage/readme.txt"

setup="$out/$setup_name"
makensis -V2 -DVERSION="$version" -DARCH="$arch" -DEXE="$stage/tarnwick.exe" -DGUARD="$stage/tarnwick-guard.exe" -DREADME="$stage/readme.txt" \
  -DICON="$build/tarnwick.ico" -DOUTFILE="$setup" "$root/packaging/windows/tarnwick.nsi"

archive="$out/$zip_name"
rm -f "$archive"
mkdir -p "$stage/Tarnwick"
cp "$stage/tarnwick.exe" "$stage/tarnwick-guard.exe" "$stage/readme.txt" "$stage/Tarnwick/"
(cd "$stage" && zip -q -X -r "$archive" Tarnwick)

echo "package-windows: $setup"
echo "package-windows: $archive"
