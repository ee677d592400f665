#!/usr/bin/env bash
# A file whose name goes beyond ASCII plays when the settings file names it
# as the program speaks (UTF-8 on Linux; on Windows the ANSI code page, as
# the window, the file dialog and the profile functions do): "Play" keys the
# node for the file's length, the sound reaches the sink, and the node's
# Closing saves the name back byte for byte. On Windows each name runs under
# a Wine locale whose code page holds it: Western 1252, Cyrillic 1251 and
# Japanese 932 (whose "ソ" ends in the byte of a backslash).
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

# file name | Unix locale that Wine takes its code page from | that code page
cases=(
  "Today’s ID.wav|en_US.UTF-8|CP1252"
  "Позывной.wav|ru_RU.UTF-8|CP1251"
  "局のIDソング.wav|ja_JP.UTF-8|CP932"
)

if [[ "$platform" == windows ]]; then
  # Wine reads its code page from the locale it starts in, which must exist;
  # the locales are compiled once into the prefix, not into the machine.
  locale_dir="$WINEPREFIX/unix-locales"
  wine_locale=""
  make_locale() {
    local name=$1
    [[ -d "$locale_dir/$name" ]] && return 0
    mkdir -p "$locale_dir"
    localedef -i "${name%%.*}" -f UTF-8 "$locale_dir/$name.new" >/dev/null 2>&1 || return 1
    mv "$locale_dir/$name.new" "$locale_dir/$name"
  }
  # Every Windows process of a case (the stand-in, its --ctl, the program)
  # starts in the case's locale; the Linux tools keep their own.
  wine() { env LOCPATH="$locale_dir" LC_ALL="$wine_locale" wine "$@"; }
fi

played=()
n=0
for c in "${cases[@]}"; do
  IFS='|' read -r name unix_locale code_page <<<"$c"
  n=$((n + 1))
  text=$(program_path "$work/$name")
  if [[ "$platform" == windows ]]; then
    if ! make_locale "$unix_locale"; then
      echo "note: $name not tried: localedef cannot make $unix_locale"
      continue
    fi
    wine_locale=$unix_locale
    text=$(iconv -f UTF-8 -t "$code_page" <<<"$text")
  fi

  tone "$work/$name" 2
  write_settings '[SETTINGS]' "TEXT4=$text"
  start_all
  start_recording "$work/rec$n.wav"
  # "Play" sits at (2400, 1200) twips, 855 x 255.
  click_twips "$win" $((2400 + 427)) $((1200 + 127))
  if ! read -r key_ms unkey_ms < <(wait_unkeyed 1 10); then
    wait_window '^Error$' >/dev/null && fail "$name: a message box instead of a transmission (not found?)"
    fail "$name: no transmission ended after the click"
  fi
  keyed=$((unkey_ms - key_ms))
  check "$keyed >= 1950 && $keyed <= 2600" "$name: keyed for $keyed ms for a 2000 ms file"
  sleep 0.3
  stop_recording
  loud=$(sounding_seconds "$work/rec$n.wav")
  check "${loud:-0} > 1.8 && ${loud:-0} < 2.3" "$name: the recorded tone lasts ${loud:-no} s"

  # The node's closing saves the settings: the name goes back as it came.
  nodesim_ctl close
  wait_exit "$app_pid" $((10 * slow)) || fail "$name: the program did not end on the node's closing"
  wait_exit "$node_pid" $((10 * slow)) || fail "$name: the stand-in did not end"
  app_pid="" node_pid=""
  saved=$(grep -a '^TEXT4=' "$settings_file" | tr -d '\r')
  [[ "$saved" == "TEXT4=$text" ]] ||
    fail "$name: saved as $(printf '%s' "$saved" | od -An -c | tr -s ' ' | head -c 300)"
  played+=("$name: keyed $keyed ms, tone $loud s")
done

[[ ${#played[@]} -gt 0 ]] || { echo "SKIP: no locale for any of the names"; exit 77; }
pass "$(IFS=';'; echo "${played[*]}")"
