# What the program benchmarks share before they enter their session (they
# re-run themselves inside tests/blackbox/lib.sh's session, with BB_INSIDE
# set): the arguments that lib.sh takes, from a build directory.
#
# bench_args PLATFORM BUILD_DIR [PLACE] sets the array bench_args to
# "PLATFORM PROGRAM STAND-IN PLACE". PLACE is the settings directory (Linux)
# or the Wine prefix (Windows); without it, the build's own. For a Windows
# build it exports the build's architecture (TARNWICK_WIN_ARCH), so that
# Wine of that architecture runs it whatever this machine would pick.
bench_args() {
  local platform=$1 build=$2 place=${3:-} arch
  if [[ "$platform" == windows ]]; then
    arch=$(sed -n 's/^TARNWICK_WIN_ARCH:INTERNAL=//p' "$build/CMakeCache.txt")
    [[ -n "$arch" ]] && export TARNWICK_WIN_ARCH=$arch
    bench_args=(windows "$build/tarnwick.exe" "$build/tarnwick-nodesim.exe" "${place:-$build/wineprefix}")
  else
    [[ -n "$place" ]] || place=$(sed -n 's/^TARNWICK_SETTINGS_DIR:PATH=//p' "$build/CMakeCache.txt")
    bench_args=(linux "$build/tarnwick" "$build/tarnwick-nodesim" "$place")
  fi
}
