# Sourced, not run: decides which Windows build to make, run and test, and
# says why. One switch, TARNWICK_WIN_ARCH, picks it everywhere (the build,
# package and Wine scripts and the test command):
#   i686     the 32-bit program, the product (README: "Why 32-bit"); it runs
#            under the 32-bit Wine loader, so only where the kernel runs
#            32-bit code
#   x86_64   the same source built for x86-64; it runs under 64-bit Wine,
#            which works on every x86-64 machine
#   auto     (or unset) i686 where this machine runs 32-bit code, x86_64
#            where it does not
# Afterwards TARNWICK_WIN_ARCH is i686 or x86_64 (exported) and
# TARNWICK_WIN_ARCH_WHY says how it was chosen.
#
# Whether 32-bit code runs is found out by running some, not by reading the
# kernel's configuration: a kernel may be built with the emulation and boot
# with it switched off ("Exec format error" for every 32-bit program,
# Wine's 32-bit loader included).

# A whole 32-bit i386 ELF program, 93 bytes: one loadable segment whose code
# is exit(0) through int 0x80.
tarnwick_runs_32bit() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/tarnwick-i386-probe.XXXXXX") || return 1
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod 0700 "$probe"
  tarnwick_32bit_error=$("$probe" 2>&1)
  status=$?
  rm -f "$probe"
  [[ $status -eq 0 ]]
}

case "${TARNWICK_WIN_ARCH:-auto}" in
  i686 | x86_64)
    # A script started by one that decided already keeps its reason.
    TARNWICK_WIN_ARCH_WHY=${TARNWICK_WIN_ARCH_WHY:-"chosen by TARNWICK_WIN_ARCH=$TARNWICK_WIN_ARCH"}
    ;;
  auto)
    if tarnwick_runs_32bit; then
      TARNWICK_WIN_ARCH=i686
      TARNWICK_WIN_ARCH_WHY="this machine runs 32-bit code"
    else
      TARNWICK_WIN_ARCH=x86_64
      TARNWICK_WIN_ARCH_WHY="this machine runs no 32-bit code (a 32-bit program failed: ${tarnwick_32bit_error##*: })"
    fi
    ;;
  *)
    echo "TARNWICK_WIN_ARCH must be i686, x86_64 or auto, not '$TARNWICK_WIN_ARCH'" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
export TARNWICK_WIN_ARCH TARNWICK_WIN_ARCH_WHY
unset tarnwick_32bit_error
