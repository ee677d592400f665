# Sourced, not run: prepares a Wine prefix of Tarnwick's own and exports what
# runs Windows programs in it.
#   source scripts/wine-env.sh [PREFIX_DIR]
# PREFIX_DIR defaults to $WINEPREFIX, else ./wineprefix. The prefix is made on
# first use and then reused; it is a test machine, never the user's own
# ~/.wine. Its architecture follows TARNWICK_WIN_ARCH (scripts/win-arch.sh):
# a 32-bit prefix run by the 32-bit loader for the i686 build, a 64-bit one
# run by wine64 for the x86-64 build; a prefix made for the other one is
# made anew. Wine's own messages are silenced, and a crashing program prints
# its backtrace instead of opening a dialog that nobody would answer.

tarnwick_wine_prefix=${1:-${WINEPREFIX:-$PWD/wineprefix}}
tarnwick_wine_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=win-arch.sh
source "$tarnwick_wine_scripts/win-arch.sh" || return 2
mkdir -p "$(dirname "$tarnwick_wine_prefix")"
export WINEPREFIX
WINEPREFIX=$(cd "$(dirname "$tarnwick_wine_prefix")" && pwd)/$(basename "$tarnwick_wine_prefix")
if [[ $TARNWICK_WIN_ARCH == x86_64 ]]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  case ":$PATH:" in
    *":$tarnwick_wine_scripts/wine64:"*) ;;
    *) export PATH="$tarnwick_wine_scripts/wine64:$PATH" ;;
  esac
else
  export WINEARCH=win32
  unset WINELOADER WINESERVER
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts; nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# The ready mark names the prefix's architecture.
if [[ "$(cat "$WINEPREFIX/.tarnwick-ready" 2>/dev/null)" != "$WINEARCH" ]]; then
  (
    # Two test runs starting at once must not both build the prefix.
    flock 9
    if [[ "$(cat "$WINEPREFIX/.tarnwick-ready" 2>/dev/null)" != "$WINEARCH" ]]; then
      rm -rf "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1
      # Debian's Wine does not find its own TrueType fonts (Tahoma, Marlett
      # for the caption buttons) unless they are in the prefix.
      cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
      reg_file=$(mktemp --suffix=.reg)
      cat >"$reg_file" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"Managed"="N"
REG
      wine regedit /S "$(winepath -w "$reg_file" 2>/dev/null)" >/dev/null 2>&1
      rm -f "$reg_file"
      wineserver -w
      echo "$WINEARCH" >"$WINEPREFIX/.tarnwick-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
unset tarnwick_wine_prefix tarnwick_wine_scripts
