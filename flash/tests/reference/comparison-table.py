#!/usr/bin/env python3
"""Writes the comparison of the engine's pictures with the outside renderer's as a Markdown
table, from the summaries that flash_regress_test leaves in BUILD/flash-regress/<case>/.

    build/tests/flash_regress_test >/dev/null; python3 flash/tests/reference/comparison-table.py build

For each case: the frames compared (played, and reached with gotoFrame where the case asks),
the worst frame's pixels beyond the tolerance out of the frame's pixels, the largest channel
difference anywhere, and the verdict (known failures carry the reason their case.ini gives).
"""
import pathlib
import re
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
CASES = HERE.parent / "regress"


def ini(path):
    values, notes = {}, []
    for line in path.read_text().splitlines():
        line = line.strip()
        if line.startswith("#"):
            notes.append(line.lstrip("# "))
        elif "=" in line and not line.startswith("["):
            k, v = line.split("=", 1)
            values[k.strip()] = v.strip()
    return values, " ".join(notes)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24])


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: comparison-table.py BUILD_DIR")
    results = pathlib.Path(sys.argv[1]) / "flash-regress"
    rows = []
    for case in sorted(p for p in CASES.iterdir() if (p / "case.ini").exists()):
        values, note = ini(case / "case.ini")
        summary = results / case.name / "summary.txt"
        if not summary.exists():
            sys.exit(f"{summary} is missing: run flash_regress_test first")
        expected = sorted(case.glob("expected-*.png"))
        w, h = png_size(expected[0])
        frames, worst, allowed, largest, failed, traces = 0, 0, 0, 0, False, ""
        for line in summary.read_text().splitlines():
            m = re.match(r"\S+ (\w+) frame (\d+) outliers (\d+)/(\d+) largest (\d+) (\w+)", line)
            if m:
                frames += 1
                worst = max(worst, int(m.group(3)))
                allowed = int(m.group(4))
                largest = max(largest, int(m.group(5)))
                failed |= m.group(6) == "FAIL"
            elif line.endswith("traces FAIL"):
                failed, traces = True, " (trace lines differ)"
        known = values.get("known_failure") in ("yes", "true")
        if not failed:
            verdict = "match"
        elif known:
            verdict = "known difference: " + (note or "see case.ini")
        else:
            verdict = "DIFFERS" + traces
        share = 100.0 * worst / (w * h)
        rows.append(
            f"| `{case.name}` | {w}x{h} | {frames} | {values.get('tolerance', '24')} | "
            f"{worst} ({share:.2f} %) | {allowed} | {largest} | {verdict} |"
        )
    print("| case | size | frames compared | tolerance | pixels differing, worst frame | "
          "allowed | largest difference | verdict |")
    print("|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
