#!/usr/bin/env bash
# Every C++ file of the tree follows the repository's .clang-format: a file
# that does not fails the test command, with the places clang-format names.
set -euo pipefail
root=${1:?usage: format_check.sh SOURCE_DIR}
command -v clang-format >/dev/null || { echo "FAIL: clang-format is not installed (scripts/setup.sh --tests)"; exit 1; }
cd "$root"
mapfile -t files < <(find src nodesim tools tests bench -name '*.cpp' -o -name '*.h' | sort)
((${#files[@]} > 0)) || { echo "FAIL: no C++ files under $root"; exit 1; }
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/format_check.$$; then
  grep -E "^[^ ].*: (error|warning):" /tmp/format_check.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
  rm -f /tmp/format_check.$$
  echo "FAIL: run clang-format -i on the files above"
  exit 1
fi
rm -f /tmp/format_check.$$
echo "PASS: ${#files[@]} files follow .clang-format"
