#!/usr/bin/env bash
# Installs what building, running and testing Tarnwick on Debian 12 needs,
# and makes the machine's settings directory. Safe to run again: it installs
# only what is missing. Run as root.
#   setup.sh           what the program needs to build and run
#   setup.sh --windows that, plus what cross-building, packaging and running
#                      the Windows program under Wine needs
#   setup.sh --tests   all of that, plus what the tests and benchmarks need
set -euo pipefail

want_tests=0 want_windows=0
for arg in "$@"; do
  case "$arg" in
    --tests) want_tests=1 want_windows=1 ;;
    --windows) want_windows=1 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libegl-dev libxkbcommon-dev
  dbus dbus-x11 libdbus-1-dev fonts-dejavu-core
  xvfb xauth xdotool x11-utils imagemagick
  # Playback: GStreamer's playbin with the decoders of every offered file
  # type (fluidsynth and a General MIDI sound font for .mid), and the sound
  # server it plays into.
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-pulseaudio fluidsynth fluid-soundfont-gm
  pulseaudio pulseaudio-utils
  # The sample station ID offered on a first run is spoken by espeak-ng.
  espeak-ng
)
if [[ $want_tests -eq 1 ]]; then
  packages+=(libgtest-dev googletest libbenchmark-dev libx11-dev)
  # Test media made at run time (sox, gst-launch-1.0, spoken audio).
  packages+=(sox gstreamer1.0-tools)
  # Locale sources: tests compile a German and other locales from them.
  packages+=(locales)
  packages+=(clang-14 libclang-rt-14-dev)  # the fuzz build, tests/fuzz/run.sh (libFuzzer, sanitizers)
  packages+=(clang-format)  # tests/format_check.sh
fi
if [[ $want_windows -eq 1 ]]; then
  # The Windows build this machine makes and tests (scripts/win-arch.sh):
  # the 32-bit program where 32-bit code runs, else the x86-64 build.
  # shellcheck source=win-arch.sh
  source "$(dirname "$0")/win-arch.sh"
  echo "setup: for the $TARNWICK_WIN_ARCH Windows program ($TARNWICK_WIN_ARCH_WHY)"
  # googletest brings the sources its Windows tests are built with; widl
  # (mingw-w64-tools) and Wine's IDL files (libwine-dev) the stand-in
  # node's type library.
  packages+=(mingw-w64-tools libwine-dev wine nsis zip unzip googletest)
  if [[ $TARNWICK_WIN_ARCH == i686 ]]; then
    # The 32-bit program runs under 32-bit Wine, which needs dpkg to know the
    # i386 architecture. Wine's DirectShow decodes through GStreamer, so the
    # 32-bit Wine needs the 32-bit plugins: wav (base, good), mp3 and mp2
    # (ugly, libav), MPEG files and MIDI (bad, with fluidsynth). The video
    # renderer draws with Direct3D on OpenGL; without the 32-bit OpenGL a
    # picture or a video crashes it.
    packages+=(g++-mingw-w64-i686-posix wine32:i386)
    packages+=(gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386
      gstreamer1.0-plugins-bad:i386 gstreamer1.0-libav:i386 libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386)
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  fi
  if [[ $TARNWICK_WIN_ARCH == x86_64 || $want_tests -eq 1 ]]; then
    # The x86-64 build runs under 64-bit Wine, whose DirectShow uses the
    # machine's own GStreamer plugins and OpenGL. The tests build it beside
    # the 32-bit program too, so that it never stops compiling.
    packages+=(g++-mingw-w64-x86-64-posix wine64 libgl1 libglx-mesa0 libgl1-mesa-dri)
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The one settings directory of the machine (the Linux program's counterpart
# of the Windows directory): shared by the members of the group tarnwick,
# to which the user who runs the set-up is added (log in again for it to
# count). Others may run the program but not change what it transmits.
bash "$(dirname "$0")/settings-dir.sh" /var/lib/tarnwick tarnwick "${SUDO_USER:-}"

# A sample station ID to transmit, offered on a first run.
sample=/var/lib/tarnwick/sample-id.wav
if [[ ! -s "$sample" ]] && command -v espeak-ng >/dev/null; then
  espeak-ng -s 150 -w "$sample" "This is November Zero Charlie Alpha Lima Lima, testing the Tarnwick beacon." \
    && chmod 0644 "$sample"
fi
echo "setup: ready"
