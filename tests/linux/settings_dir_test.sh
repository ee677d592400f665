#!/usr/bin/env bash
# The machine's settings directory as the set-up prepares it: members of the
# station's group may save (a new file renamed over the old) and append to
# the log; other accounts may read but not change what goes on the air; an
# older world-writable directory is closed and its files join the group.
# Needs root (it adds a group and runs commands as `nobody`): skipped else.
set -euo pipefail
script=${1:?usage: settings_dir_test.sh SETTINGS_DIR_SCRIPT}
[[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root"; exit 77; }
command -v runuser >/dev/null || { echo "SKIP: no runuser"; exit 77; }
group=tarnwick-test
work=$(mktemp -d)
trap 'rm -rf "$work"; groupdel "$group" 2>/dev/null || true' EXIT
chmod 0755 "$work"
dir=$work/var/lib/tarnwick
fail() { echo "FAIL: $*" >&2; exit 1; }

# An older set-up's directory: world-writable, a settings file of 0666.
mkdir -p "$dir" && chmod 0777 "$dir"
echo "[SETTINGS]" >"$dir/tarnwick.ini" && chmod 0666 "$dir/tarnwick.ini"
bash "$script" "$dir" "$group"
bash "$script" "$dir" "$group"  # again: a set-up run twice changes nothing

[[ $(stat -c '%a %U %G' "$dir") == "2775 root $group" ]] || fail "directory is $(stat -c '%a %U %G' "$dir")"
[[ $(stat -c '%G' "$dir/tarnwick.ini") == "$group" ]] || fail "the old settings file kept its group"
[[ $(( 0$(stat -c '%a' "$dir/tarnwick.ini") & 2 )) -eq 0 ]] || fail "the old settings file stays writable by all"

as_nobody() { runuser -u nobody "$@"; }
as_member() { runuser -u nobody -g "$group" "$@"; }
# Another account reads, but can neither replace the file nor add one.
as_nobody -- cat "$dir/tarnwick.ini" >/dev/null || fail "another account cannot read the settings"
! as_nobody -- sh -c "echo x >'$dir/.new' && mv '$dir/.new' '$dir/tarnwick.ini'" 2>/dev/null ||
  fail "another account replaced the settings file"
! as_nobody -- sh -c "echo x >>'$dir/tarnwick.ini'" 2>/dev/null || fail "another account wrote to the settings file"
# A member saves as the program does, and the new file keeps the group.
as_member -- sh -c "umask 022; printf '[SETTINGS]\nTEXT6=100\n' >'$dir/.tarnwick.ini.tmp' && mv '$dir/.tarnwick.ini.tmp' '$dir/tarnwick.ini'" ||
  fail "a member of $group could not save"
[[ $(stat -c '%G' "$dir/tarnwick.ini") == "$group" ]] || fail "a member's save left the group $(stat -c '%G' "$dir/tarnwick.ini")"
echo "PASS: $dir is $(stat -c '%a %U:%G' "$dir"); members save, other accounts cannot"
