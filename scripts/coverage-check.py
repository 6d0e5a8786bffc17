#!/usr/bin/env python3
"""Judges the coverage that scripts/coverage.sh measured: the whole of Ravento/ must reach the
line and branch bars. Prints each file under a bar and every branch no test took, by file and
line, with the reason tests/coverage/untaken-branches.txt gives for it (or that none is given).

Usage: python3 scripts/coverage-check.py FOLDER LINE_BAR BRANCH_BAR
  FOLDER holds gcovr's summary.json and the halves' detailed JSON files (posix.json, windows.json).
Exit status: 0 when both bars hold, 1 otherwise.
"""
import json
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
REASONS = ROOT / "tests" / "coverage" / "untaken-branches.txt"


def percent(covered, total):
    return 100.0 * covered / total if total else 100.0


def reasons():
    """[(file, code, reason)]: a line of that file whose code contains code has its untaken
    branches explained by reason. Keyed by code, not by line number, so that it survives edits
    above the line."""
    found = []
    for line in REASONS.read_text().splitlines() if REASONS.exists() else []:
        if line.strip() and not line.startswith("#"):
            file, code, reason = (part.strip() for part in line.split("|", 2))
            found.append((file, code, reason))
    return found


def untaken_branches(folder):
    """(file, line number, untaken, branches) for every line with a branch no test took."""
    found = []
    for half in sorted(folder.glob("*.json")):
        if half.name == "summary.json":
            continue
        for file in json.loads(half.read_text())["files"]:
            for line in file["lines"]:
                counts = [branch["count"] for branch in line["branches"]]
                untaken = counts.count(0)
                if untaken:
                    found.append((file["file"], line["line_number"], untaken, len(counts)))
    return found


def source_line(file, number):
    lines = (ROOT / file).read_text(errors="replace").splitlines()
    return lines[number - 1].strip() if number <= len(lines) else ""


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    folder, line_bar, branch_bar = Path(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
    summary = json.loads((folder / "summary.json").read_text())

    print(f"\nFiles under the bar ({line_bar:g}% of lines, {branch_bar:g}% of branches):")
    under = 0
    for file in summary["files"]:
        lines = percent(file["line_covered"], file["line_total"])
        branches = percent(file["branch_covered"], file["branch_total"])
        if lines < line_bar or branches < branch_bar:
            under += 1
            print(f"  {file['filename']}: lines {lines:.1f}%, branches {branches:.1f}%")
    if not under:
        print("  none")

    print("\nBranches no test takes:")
    known = reasons()
    untaken = untaken_branches(folder)
    for file, number, count, total in untaken:
        code = source_line(file, number)
        reason = next((why for where, part, why in known if where == file and part in code), None)
        print(f"  {file}:{number}: {count} of {total} untaken: {code}")
        print(f"      {'why: ' + reason if reason else 'no reason given: a test should take it'}")
    if not untaken:
        print("  none")

    lines = percent(summary["line_covered"], summary["line_total"])
    branches = percent(summary["branch_covered"], summary["branch_total"])
    held = lines >= line_bar and branches >= branch_bar
    print(f"\ncoverage of Ravento/: lines {lines:.1f}% (bar {line_bar:g}%), branches {branches:.1f}% "
          f"(bar {branch_bar:g}%): {'held' if held else 'UNDER THE BAR'}")
    sys.exit(0 if held else 1)


if __name__ == "__main__":
    main()
