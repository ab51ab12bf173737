#!/usr/bin/env bash
# Rebuilds the shipped tables and phonecompany.ini in shipped/DATA from the sources here.
# The result is byte for byte reproducible; the tables test checks that the committed files match.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build-tablegen}"
cmake -S "$root" -B "$build" -G Ninja -DHV_BENCH=OFF -DHV_ONLY="tables/dbf" >/dev/null
ninja -C "$build" -j2 tablegen
"$build/tools/tablegen" "$root/tables/data" "$root/shipped/DATA"
# The fee file is a profile file in GBK with CR LF line ends, whatever its extension says.
iconv -f UTF-8 -t GBK "$root/tables/data/confee.ini" | sed 's/$/\r/' >"$root/shipped/DATA/confee.dll"
