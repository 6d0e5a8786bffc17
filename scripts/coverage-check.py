#!/usr/bin/env python3
"""Judges the coverage that scripts/coverage.sh measured: the whole of Ravento/ must reach the
line and branch bars. Prints each file under a bar and every line and branch no test ran, by
file and line, with the reason tests/coverage/untaken-branches.txt gives for it (or that none
is given).

A line or branch with a reason is one no test can reach where it is measured (a race between
two system calls, a path Wine cannot take, a library's own failure path). The bars judge the
rest: "judged" figures leave the explained ones out, and both figures are printed, so nothing
is hidden. A line or branch without a reason counts against the bar.

Usage: python3 scripts/coverage-check.py FOLDER LINE_BAR BRANCH_BAR
  FOLDER holds the halves' detailed JSON files from gcovr (posix.json, windows.json); the
  judged totals are written beside them as judged.json (read by the test command's report).
Exit status: 0 when both bars hold, 1 otherwise.
"""
import json
import sys
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
REASONS = ROOT / "tests" / "coverage" / "untaken-branches.txt"


def reasons():
    """[(file, code, reason)]: a line of that file whose code contains code has its untaken
    branches (or, when it never runs, itself) explained by reason. Keyed by code, not by line
    number, so that it survives edits above the line."""
    found = []
    for line in REASONS.read_text().splitlines() if REASONS.exists() else []:
        if line.strip() and not line.startswith("#"):
            file, code, reason = (part.strip() for part in line.split("|", 2))
            found.append((file, code, reason))
    return found


def source_line(file, number):
    lines = (ROOT / file).read_text(errors="replace").splitlines()
    return lines[number - 1].strip() if number <= len(lines) else ""


@dataclass
class Figures:
    lines: int = 0
    lines_run: int = 0
    lines_explained: int = 0
    branches: int = 0
    branches_taken: int = 0
    branches_explained: int = 0

    def add(self, other):
        for name in vars(self):
            setattr(self, name, getattr(self, name) + getattr(other, name))

    @staticmethod
    def percent(part, whole):
        return 100.0 * part / whole if whole else 100.0

    def judged_lines(self):
        return self.percent(self.lines_run, self.lines - self.lines_explained)

    def judged_branches(self):
        return self.percent(self.branches_taken, self.branches - self.branches_explained)

    def text(self):
        return (f"lines {self.judged_lines():.1f}% judged ({self.lines_run}/{self.lines - self.lines_explained}; "
                f"{self.percent(self.lines_run, self.lines):.1f}% of all {self.lines}, {self.lines_explained} explained), "
                f"branches {self.judged_branches():.1f}% judged ({self.branches_taken}/"
                f"{self.branches - self.branches_explained}; {self.percent(self.branches_taken, self.branches):.1f}% "
                f"of all {self.branches}, {self.branches_explained} explained)")


def measure(folder, known):
    """{file: Figures}, and the listing of every line or branch no test ran."""
    figures, listing = {}, []
    for half in sorted(folder.glob("*.json")):
        if half.name in ("summary.json", "judged.json"):
            continue
        for file in json.loads(half.read_text())["files"]:
            name = file["file"]
            counts = figures.setdefault(name, Figures())
            for line in file["lines"]:
                if line.get("gcovr/noncode") or line.get("gcovr/excluded"):
                    continue
                taken = [branch["count"] > 0 for branch in line["branches"]]
                untaken = taken.count(False)
                counts.lines += 1
                counts.lines_run += line["count"] > 0
                counts.branches += len(taken)
                counts.branches_taken += len(taken) - untaken
                if line["count"] > 0 and not untaken:
                    continue
                code = source_line(name, line["line_number"])
                reason = next((why for where, part, why in known if where == name and part in code), None)
                if reason:
                    counts.lines_explained += line["count"] == 0
                    counts.branches_explained += untaken
                what = "never runs" if line["count"] == 0 else f"{untaken} of {len(taken)} branches untaken"
                listing.append(f"  {name}:{line['line_number']}: {what}: {code}\n"
                               f"      {'why: ' + reason if reason else 'no reason given: a test should take it'}")
    return figures, listing


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    folder, line_bar, branch_bar = Path(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
    figures, listing = measure(folder, reasons())

    print("\nLines and branches no test runs:")
    print("\n".join(listing) if listing else "  none")

    print(f"\nFiles under the bar ({line_bar:g}% of lines, {branch_bar:g}% of branches, judged):")
    under = [f"  {name}: {counts.text()}" for name, counts in sorted(figures.items())
             if counts.judged_lines() < line_bar or counts.judged_branches() < branch_bar]
    print("\n".join(under) if under else "  none")

    total = Figures()
    for counts in figures.values():
        total.add(counts)
    (folder / "judged.json").write_text(json.dumps(vars(total), indent=1))
    held = total.judged_lines() >= line_bar and total.judged_branches() >= branch_bar
    print(f"\ncoverage of Ravento/: {total.text()}: {'held' if held else 'UNDER THE BAR'}")
    sys.exit(0 if held else 1)


if __name__ == "__main__":
    main()
