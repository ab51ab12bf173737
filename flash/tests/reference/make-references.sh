#!/usr/bin/env bash
# Makes the expected frames of the regression cases with an outside renderer: Ruffle's web build
# (pinned in package.json) in Debian's headless Chromium, webgl renderer. Run by hand when a
# case is added or its movie changes, and review the pictures before committing them; CI never
# runs this (it needs chromium, npm and the network).
#
#   bash flash/tests/reference/make-references.sh [CASE...]     (default: every case)
#
# Needs: apt-get install chromium nodejs npm. The npm packages go to a cache folder outside the
# source tree ($HANDVANE_REFERENCE_CACHE, default ~/.cache/handvane-flash-reference).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
regress="$(cd "$here/../regress" && pwd)"
cache="${HANDVANE_REFERENCE_CACHE:-$HOME/.cache/handvane-flash-reference}"

command -v node >/dev/null || { echo "make-references: node is needed (apt-get install nodejs npm)" >&2; exit 1; }
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || { echo "make-references: chromium is needed (apt-get install chromium)" >&2; exit 1; }

mkdir -p "$cache"
if ! cmp -s "$here/package.json" "$cache/package.json" || [ ! -d "$cache/node_modules/@ruffle-rs/ruffle" ]; then
  cp "$here/package.json" "$cache/package.json"
  (cd "$cache" && npm install --no-audit --no-fund --no-save >/dev/null)
fi

cases=()
if [ $# -eq 0 ]; then
  for d in "$regress"/*/; do
    # Cases whose pictures come from Flash Player itself keep them.
    grep -q '^reference *= *flash' "$d/case.ini" 2>/dev/null || cases+=("${d%/}")
  done
else
  for c in "$@"; do cases+=("$regress/$c"); done
fi
RUFFLE_MODULES="$cache/node_modules" NODE_PATH="$cache/node_modules" node "$here/render.mjs" "${cases[@]}"
