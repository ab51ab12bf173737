#!/usr/bin/env python3
"""Publishes a Handvane update on the service's web site.

  publish-update.py DATAFOLDER VERSION [--manual] INSTALLED=SOURCE ...

Copies each SOURCE file to DATAFOLDER/web/updates/files/VERSION/INSTALLED and then writes
DATAFOLDER/web/updates/manifest.txt (served as /update/manifest.txt, where the suite looks),
naming each copy relative to the manifest. INSTALLED is the path the file gets in the
installation ("Handvane", "DATA/tips.txt"); the mode is 0755 when SOURCE is executable.
The manifest is replaced last and atomically, so a client never sees one whose files are missing.
"""
import hashlib
import os
import shutil
import sys


def fail(text):
    print("publish-update: " + text, file=sys.stderr)
    sys.exit(2)


def main(argv):
    if len(argv) < 3:
        fail("usage: publish-update.py DATAFOLDER VERSION [--manual] INSTALLED=SOURCE ...")
    data, version, rest = argv[0], argv[1], argv[2:]
    if not all(p.isdigit() for p in version.split(".")):
        fail("the version is dotted decimal numbers: " + version)
    manual = "--manual" in rest
    items = [a for a in rest if a != "--manual"]
    updates = os.path.join(data, "web", "updates")
    lines = ["handvane-update 1", "version " + version, "manual " + ("yes" if manual else "no")]
    for item in items:
        installed, sep, source = item.partition("=")
        parts = installed.split("/")
        if not sep or not installed or installed.startswith("/") or "" in parts or ".." in parts \
                or any(c in installed for c in " \t\\"):
            fail("not INSTALLED=SOURCE with a plain relative path: " + item)
        url = "files/%s/%s" % (version, installed)
        target = os.path.join(updates, url)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        with open(target, "rb") as f:
            body = f.read()
        mode = "0755" if os.access(source, os.X_OK) else "0644"
        lines.append("item %d %s %s %s %s" % (len(body), hashlib.sha256(body).hexdigest(), mode,
                                              installed, url))
    tmp = os.path.join(updates, ".manifest.txt.tmp")
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, os.path.join(updates, "manifest.txt"))
    print("published %s (%d items) in %s" % (version, len(items), updates))


if __name__ == "__main__":
    main(sys.argv[1:])
