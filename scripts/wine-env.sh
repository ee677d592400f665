# Sourced, not run: prepares a Wine prefix of Tarnwick's own and exports what
# runs Windows programs in it.
#   source scripts/wine-env.sh [PREFIX_DIR]
# PREFIX_DIR defaults to $WINEPREFIX, else ./wineprefix. The prefix is made on
# first use (32-bit, like the program) and then reused; it is a test machine,
# never the user's own ~/.wine. Wine's own messages are silenced, and a
# crashing program prints its backtrace instead of opening a dialog that
# nobody would answer.

tarnwick_wine_prefix=${1:-${WINEPREFIX:-$PWD/wineprefix}}
mkdir -p "$(dirname "$tarnwick_wine_prefix")"
export WINEPREFIX
WINEPREFIX=$(cd "$(dirname "$tarnwick_wine_prefix")" && pwd)/$(basename "$tarnwick_wine_prefix")
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts; nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [[ ! -f "$WINEPREFIX/.tarnwick-ready" ]]; then
  (
    # Two test runs starting at once must not both build the prefix.
    flock 9
    if [[ ! -f "$WINEPREFIX/.tarnwick-ready" ]]; then
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
      touch "$WINEPREFIX/.tarnwick-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
unset tarnwick_wine_prefix
