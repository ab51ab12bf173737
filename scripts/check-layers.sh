#!/usr/bin/env bash
# Checks of the layers that need no build (the build checks the links: hv_finish_layers in
# cmake/Handvane.cmake):
#  1. code in the folders of cmake/qt-free-folders.txt includes neither Qt nor ui/;
#  2. every quoted include is spelt from the source root ("platform/gbk.h") and names a file
#     there, so that the header roots decide what a target sees;
#  3. only tests and benchmarks include a header below a tests/ folder.
# Prints each offending line as file:line: text and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

sources() {
  git ls-files -co --exclude-standard -- "$@" |
    grep -E '\.(c|cc|cpp|cxx|h|hh|hpp|inc)$' || true
}

failed=0
report() {
  echo "$1" >&2
  failed=1
}

# 1. Qt-free folders.
qt_include='^[[:space:]]*#[[:space:]]*include[[:space:]]*(<Qt[A-Za-z0-9]*[/>]|<Q[A-Z][A-Za-z0-9]*>|["<]ui/)'
while read -r folder; do
  folder="${folder%%#*}"
  folder="$(echo "$folder" | tr -d '[:space:]')"
  [ -n "$folder" ] && [ -d "$folder" ] || continue
  while IFS= read -r file; do
    while IFS= read -r hit; do
      report "$file:$hit: $folder/ stays free of Qt and ui/ (cmake/qt-free-folders.txt)"
    done < <(grep -nE "$qt_include" "$file" || true)
  done < <(sources "$folder")
done < cmake/qt-free-folders.txt

# 2 and 3. Quoted includes.
while IFS= read -r file; do
  while IFS=: read -r line path; do
    if [ ! -f "$path" ]; then
      report "$file:$line: \"$path\" is not a file below the source root (spell includes from it)"
    fi
    case "$file" in
      */tests/* | tests/* | bench/*) ;;
      *)
        case "$path" in
          */tests/* | tests/*)
            report "$file:$line: \"$path\" is a test header; only tests include it" ;;
        esac ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/' || true)
done < <(sources .)

if [ "$failed" -ne 0 ]; then
  echo "check-layers: failed" >&2
  exit 1
fi
echo "check-layers: ok"
