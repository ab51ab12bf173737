#!/usr/bin/env bash
# Checks that the C and C++ files listed in scripts/formatted-files.txt are as clang-format
# (.clang-format) leaves them. The list holds every file that was formatted when the check was
# introduced; a file joins it with `bash scripts/check-format.sh --add FILE...` once it is
# formatted (clang-format -i FILE). Files not listed are named as a notice, never a failure, so
# that work in progress elsewhere cannot break the run. Exits 1 when a listed file differs.
set -euo pipefail
cd "$(dirname "$0")/.."
list=scripts/formatted-files.txt
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "check-format: clang-format is not installed" >&2
  exit 1
fi

if [ "${1:-}" = "--add" ]; then
  shift
  for f in "$@"; do
    "$format" --dry-run -Werror "$f" >/dev/null 2>&1 || { echo "check-format: $f is not formatted" >&2; exit 1; }
    echo "$f" >> "$list"
  done
  LC_ALL=C sort -u -o "$list" "$list"
  exit 0
fi

failed=0
checked=0
while IFS= read -r f; do
  [ -n "$f" ] && [ -f "$f" ] || continue
  checked=$((checked + 1))
  if ! "$format" --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "$f: not formatted (run: $format -i $f)" >&2
    failed=1
  fi
done < "$list"

unlisted=$(git ls-files -co --exclude-standard -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' |
             LC_ALL=C sort | LC_ALL=C comm -23 - <(LC_ALL=C sort "$list") | wc -l)
[ "$unlisted" -gt 0 ] && echo "check-format: $unlisted C/C++ files are not in $list (not checked)"
if [ "$failed" -ne 0 ]; then
  echo "check-format: failed" >&2
  exit 1
fi
echo "check-format: ok ($checked files)"
