#!/usr/bin/env bash
# Prepares the machine's one settings directory: every member of GROUP may
# save the settings and append to the station log, and no other account may
# change what the station transmits (the settings, the sample file).
#
#   settings-dir.sh DIR GROUP [USER...]     as root
#
# The directory is DIR root:GROUP 2775: a save writes a temporary file
# beside the settings file and renames it over it, so the members need
# write access to the directory itself; the set-group-ID bit gives every
# file made there the group, so that the next member can replace it. Files
# already there (from a world-writable directory of an older set-up) join
# the group, writable by it and by nobody else. Each USER is added to GROUP.
set -euo pipefail
dir=${1:?usage: settings-dir.sh DIR GROUP [USER...]}
group=${2:?usage: settings-dir.sh DIR GROUP [USER...]}
shift 2
groupadd -f --system "$group"
for user in "$@"; do
  [[ -n "$user" && "$user" != root ]] && id "$user" >/dev/null 2>&1 && usermod -a -G "$group" "$user"
done
install -d -o root -g "$group" -m 2775 "$dir"
# An older directory was 0777: install -d keeps the mode of one that exists.
chown root:"$group" "$dir"
chmod 2775 "$dir"
find "$dir" -mindepth 1 -maxdepth 1 -type f -exec chgrp "$group" {} + -exec chmod g+w,o-w {} +
