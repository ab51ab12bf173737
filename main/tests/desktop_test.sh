#!/usr/bin/env bash
# The hand-off type compiles into a MIME database and maps "*.hdv" to it; the desktop entry
# offers Handvane for every type the modules open.
set -euo pipefail
share=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mime/packages"
cp "$share/mime/packages/handvane.xml" "$work/mime/packages/"
update-mime-database "$work/mime"
grep -q '^50:application/x-handvane-handoff:\*\.hdv$' "$work/mime/globs2"
grep -q '<sub-class-of type="text/plain"/>' "$work/mime/application/x-handvane-handoff.xml"
entry=$share/applications/handvane.desktop
for type in text/plain image/jpeg image/png image/bmp image/gif application/x-shockwave-flash \
            audio/midi application/x-handvane-handoff; do
  grep -q "^MimeType=.*$type;" "$entry" || { echo "missing $type"; exit 1; }
done
grep -q '^Exec=/.*/Handvane %f$' "$entry"
