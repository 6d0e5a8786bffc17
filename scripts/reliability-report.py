#!/usr/bin/env python3
"""Writes the report of one test run from that run's logs: which steps ran and how they ended,
each configuration's tests (passed, failed, skipped), the coverage figures, what the fuzzers and
the counted tests tried. Nothing in it is typed by hand, and nothing in it comes from an earlier
run: scripts/test.sh deletes every file read here before its first step.

Reads:
  build/reports/steps.tsv            one line a step of scripts/test.sh: name, outcome, seconds,
                                     processor seconds
  build/reports/ctest/<config>.log   each configuration's ctest output
  build/reports/gtest/<config>/*.xml GoogleTest's results, one file a test program
  build/reports/counts/<config>.txt  lines "[reliability] <name>: key=value ..." that tests append
                                     to the file named by RAVENTO_RELIABILITY_LOG
  build/reports/coverage/summary.json  the coverage figures (scripts/coverage.sh), and judged.json
                                     the totals its bar judges (scripts/coverage-check.py)
  build/fuzz/logs/<target>.log       libFuzzer's output, as scripts/fuzz.sh leaves it

Usage:
  python3 scripts/reliability-report.py OUTPUT   writes the report (Markdown) to OUTPUT
  python3 scripts/reliability-report.py --summary
      prints one line a configuration and, last, "tests: N passed, N failed, N skipped"
  python3 scripts/reliability-report.py --suite CONFIGURATION
      prints that configuration's line; exit status 1 unless every program ran and passed
"""
import datetime
import hashlib
import json
import os
import platform
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build"
REPORTS = BUILD / "reports"

# What each fuzz target feeds, in the order scripts/fuzz.sh runs them.
FUZZ_TARGETS = {
    "repair_reply": "the reply handler of the loaded plugin: status, body and size against a generated "
                    "replays folder, with one file operation failing (which, with which error, how far "
                    "into a write)",
    "play_replay": "the play handler through the host's game event: identifier and date texts "
                   "(invalid UTF-8, separators, \"..\", \":\", NUL, long values); file, folder or nothing "
                   "under the replay's name",
    "code_page": "the code-page conversions: strict acceptance judged by an independent decoder, "
                 "byte-exact round trips",
    "config_file": "the host's configuration-file reader and writer: any bytes, and round trips",
    "script_parser": "the host's script parser: any line, and round trips of what it parses",
    "repair_service": "the stand-in service over HTTPS: raw requests, and uploads with their promised answers",
}


def read(path):
    return path.read_text(errors="replace") if path.exists() else ""


def input_name(target, artifact):
    """The seed file a crash artifact is a copy of (libFuzzer names artifacts by their SHA-1), else
    the artifact's own name."""
    for seed in sorted((ROOT / "fuzz" / "corpus" / target).glob("*")):
        if artifact.endswith(hashlib.sha1(seed.read_bytes()).hexdigest()):
            return f"seed `fuzz/corpus/{target}/{seed.name}`"
    return f"`build/fuzz/artifacts/{artifact}`"


def fuzz_row(target):
    log = read(BUILD / "fuzz" / "logs" / f"{target}.log")
    if not log:
        return None
    done = re.findall(r"^Done (\d+) runs in (\d+) second", log, re.M)
    units = re.findall(r"^stat::number_of_executed_units:\s*(\d+)", log, re.M)
    rate = re.findall(r"^stat::average_exec_per_sec:\s*(\d+)", log, re.M)
    statuses = re.findall(r"^#(\d+)\s.*?cov: (\d+).*?corp: (\d+)", log, re.M)
    runs = int(done[-1][0]) if done else int(units[-1]) if units else int(statuses[-1][0]) if statuses else 0
    seconds = done[-1][1] if done else "–"
    coverage, corpus = (statuses[-1][1], statuses[-1][2]) if statuses else ("–", "–")
    if done:
        outcome = "no crash, no broken property"
    else:
        # A broken property's first detail line says in words what broke.
        headline = re.findall(r"property broken: [^\n]*\n([^\n]{0,120})|(ERROR: (?:AddressSanitizer|"
                              r"UndefinedBehaviorSanitizer|LeakSanitizer|libFuzzer): [^\n]*|runtime error: [^\n]*)", log)
        # Quoted values (paths, inputs) differ from run to run; the words before them do not.
        headline = ["".join(groups).split(': "')[0] for groups in headline]
        artifact = re.findall(r"Test unit written to (\S+)", log)
        outcome = "FAILED: " + (headline[0] if headline else "no final line")
        if artifact:
            outcome += f" (input: {input_name(target, Path(artifact[-1]).name)})"
    return {"runs": runs, "seconds": seconds, "rate": rate[-1] if rate else "–", "coverage": coverage,
            "corpus": corpus, "outcome": outcome}


def reliability_lines():
    """(configuration, name, [(key, value)]) for every line the tests left."""
    found = []
    for file in sorted((REPORTS / "counts").glob("*.txt")):
        for line in read(file).splitlines():
            match = re.match(r"\s*\[reliability\] ([^:]+):\s*(.*)", line)
            if match:
                pairs = [tuple(word.split("=", 1)) for word in match.group(2).split() if "=" in word]
                found.append((file.stem, match.group(1).strip(), pairs))
    return found


def steps():
    """(name, outcome, seconds, processor seconds) for every step the test command ran, in its order."""
    rows = []
    for line in read(REPORTS / "steps.tsv").splitlines():
        name, outcome, seconds, cpu_seconds = line.split("\t")
        rows.append((name, outcome, int(seconds), int(cpu_seconds)))
    return rows


@dataclass
class Suite:
    """One configuration's test run: its programs by outcome and its GoogleTest cases."""
    passed: list = field(default_factory=list)
    failed: list = field(default_factory=list)
    skipped: list = field(default_factory=list)
    skipped_whole: list = field(default_factory=list)
    cases: int = 0
    skipped_cases: list = field(default_factory=list)

    def line(self):
        programs = len(self.passed) + len(self.failed) + len(self.skipped)
        text = (f"{programs} programs: {len(self.passed)} passed, {len(self.failed)} failed, "
                f"{len(self.skipped)} skipped; {self.cases} GoogleTest cases, {len(self.skipped_cases)} skipped")
        if self.failed:
            text += "; failed: " + ", ".join(self.failed)
        if self.skipped_whole:
            text += "; skipped whole: " + ", ".join(self.skipped_whole)
        return text


def gtest_cases(configuration):
    """{program: (cases, [skipped case names])} from GoogleTest's XML files of one configuration."""
    programs = {}
    for file in sorted((REPORTS / "gtest" / configuration).glob("*.xml")):
        try:
            cases = ElementTree.parse(file).getroot().iter("testcase")
        except ElementTree.ParseError:
            continue  # a program that died while writing it; ctest reports its failure
        total, skipped = 0, []
        for case in cases:
            total += 1
            if case.get("result") == "skipped" or case.find("skipped") is not None:
                skipped.append(f"{case.get('classname')}.{case.get('name')}")
        programs[file.stem.removesuffix(".exe")] = (total, skipped)
    return programs


def suite(configuration):
    """The outcome of one configuration's ctest run, or None when it has no log."""
    log = read(REPORTS / "ctest" / f"{configuration}.log")
    if not log:
        return None
    result = Suite()
    cases = gtest_cases(configuration)
    for program, outcome in re.findall(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.*\s*(?:\*+)?(\w+)", log, re.M):
        if outcome == "Passed":
            result.passed.append(program)
        elif outcome == "Skipped":
            result.skipped.append(program)
            total, skipped = cases.get(program, (0, []))
            if len(skipped) == total:
                result.skipped_whole.append(program)
        else:
            result.failed.append(program)
    for total, skipped in cases.values():
        result.cases += total
        result.skipped_cases += skipped
    return result


def configurations():
    """Every configuration whose tests ran, in the order of the run's steps."""
    names = [name.removesuffix(": test") for name, *_ in steps() if name.endswith(": test")]
    return [name for name in names if (REPORTS / "ctest" / f"{name}.log").exists()]


def coverage_figures():
    summary = REPORTS / "coverage" / "summary.json"
    return json.loads(summary.read_text()) if summary.exists() else None


def judged_figures():
    """The totals the bar judges: without the lines and branches a reason explains."""
    judged = REPORTS / "coverage" / "judged.json"
    return json.loads(judged.read_text()) if judged.exists() else None


def judged_text(judged):
    return (f"judged by the bar, without {judged['lines_explained']} lines and {judged['branches_explained']} "
            f"branches that `tests/coverage/untaken-branches.txt` explains: lines "
            f"{percent(judged['lines_run'], judged['lines'] - judged['lines_explained'])}, branches "
            f"{percent(judged['branches_taken'], judged['branches'] - judged['branches_explained'])}")


def machine():
    cpu = re.findall(r"^model name\s*:\s*(.*)$", read(Path("/proc/cpuinfo")), re.M)
    system = re.findall(r'^PRETTY_NAME="?([^"\n]*)', read(Path("/etc/os-release")), re.M)
    return (f"{system[0] if system else platform.system()}, {platform.machine()}, "
            f"{cpu[0] if cpu else 'unknown processor'}, {os.cpu_count()} cores")


def commit():
    try:
        return subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def report():
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    out = ["# Reliability", "",
           "What the test command (`bash scripts/test.sh`) tried on one run, with counts and outcomes.",
           "Written by `scripts/reliability-report.py` from that run's logs (`build/reports/reliability.md`); "
           "`bash scripts/test.sh --update-docs` copies it here. Not edited by hand.", "",
           f"Run: {now}, commit {commit()}, on {machine()}.",
           "Every figure below is of that commit: a later commit may hold more tests, and its own run's "
           "report is `build/reports/reliability.md`.", ""]
    out += steps_section() + suites_section() + coverage_section() + fuzz_section() + counts_section()
    return "\n".join(out)


def steps_section():
    out = ["## Steps", ""]
    rows = steps()
    if not rows:
        return out + ["No step ran.", ""]
    # Processor seconds: the machine's busy time during the step, on all cores. A step well under
    # twice its seconds waits (on sleeps, on Wine, on a single-threaded program): a core idles.
    out += ["| Step | Outcome | Seconds | Processor seconds |", "|---|---|---:|---:|"]
    out += [f"| {name} | {outcome} | {seconds} | {cpu} |" for name, outcome, seconds, cpu in rows]
    total, total_cpu = sum(row[2] for row in rows), sum(row[3] for row in rows)
    return out + ["", f"{len(rows)} steps, {total} s in all, {total_cpu} s of processor time.", ""]


def suites_section():
    out = ["## Test suites", "",
           "A program counts as skipped when its tests passed but some skipped themselves; "
           "one whose every test skipped is named as skipped whole.", ""]
    names = configurations()
    if not names:
        return out + ["No test suite ran.", ""]
    out += ["| Configuration | Result | Skipped GoogleTest cases |", "|---|---|---|"]
    for name in names:
        result = suite(name)
        skipped = ", ".join(f"`{case}`" for case in result.skipped_cases) or "none"
        out.append(f"| {name} | {result.line()} | {skipped} |")
    return out + [""]


def percent(covered, total):
    return f"{100.0 * covered / total:.1f}% ({covered}/{total})" if total else "–"


def coverage_section():
    out = ["## Coverage", ""]
    figures = coverage_figures()
    if figures is None:
        return out + ["Not measured in this run.", ""]
    out += ["The plugin's own code (`Ravento/`): the POSIX half from the native suite, the Windows half "
            "(`platform/windows/`) from the Windows suite under Wine (mingw-w64's gcov); branches that "
            "only throw are left out (`scripts/coverage.sh`).", "",
            "| File | Lines | Branches |", "|---|---:|---:|"]
    for file in figures["files"]:
        out.append(f"| `{file['filename']}` | {percent(file['line_covered'], file['line_total'])} | "
                   f"{percent(file['branch_covered'], file['branch_total'])} |")
    out.append(f"| all | {percent(figures['line_covered'], figures['line_total'])} | "
               f"{percent(figures['branch_covered'], figures['branch_total'])} |")
    judged = judged_figures()
    if judged is not None:
        out += ["", f"All of `Ravento/` {judged_text(judged)}."]
    return out + [""]


def fuzz_section():
    out = ["## Fuzzing", "",
           "libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer (clang 14), each target starting "
           "from its seed corpus in `fuzz/corpus/` (`bash scripts/fuzz.sh`; `--long` for 10 minutes a target).", "",
           "| Target | What it tries | Executions | Seconds | Executions/s | Coverage (edges) | Corpus | Outcome |",
           "|---|---|---:|---:|---:|---:|---:|---|"]
    total = 0
    ran = 0
    for target, what in FUZZ_TARGETS.items():
        row = fuzz_row(target)
        if row is None:
            out.append(f"| `fuzz_{target}` | {what} | – | – | – | – | – | not run |")
            continue
        ran += 1
        total += row["runs"]
        out.append(f"| `fuzz_{target}` | {what} | {row['runs']:,} | {row['seconds']} | {row['rate']} | "
                   f"{row['coverage']} | {row['corpus']} | {row['outcome']} |")
    return out + ["", f"{ran} of {len(FUZZ_TARGETS)} targets ran, {total:,} executions in all.", ""]


def counts_section():
    out = ["## Model, stress and other counted tests", ""]
    lines = reliability_lines()
    if not lines:
        return out + ["No test of this run reported counts.", ""]
    out += ["| Test | Configuration | Counts |", "|---|---|---|"]
    for configuration, name, pairs in lines:
        counts = ", ".join(f"{key} {value}" for key, value in pairs)
        out.append(f"| {name} | {configuration} | {counts} |")
    return out + [""]


def summary():
    """One line a configuration, then the closing line that sums the test programs up."""
    passed = failed = skipped = 0
    for name in configurations():
        result = suite(name)
        print(f"{name}: {result.line()}")
        passed += len(result.passed)
        failed += len(result.failed)
        skipped += len(result.skipped)
    figures = coverage_figures()
    if figures is not None:
        print(f"coverage of Ravento/: lines {percent(figures['line_covered'], figures['line_total'])}, "
              f"branches {percent(figures['branch_covered'], figures['branch_total'])}")
        judged = judged_figures()
        if judged is not None:
            print(f"  {judged_text(judged)}")
    print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")


def main():
    if sys.argv[1:] == ["--summary"]:
        summary()
    elif len(sys.argv) == 3 and sys.argv[1] == "--suite":
        result = suite(sys.argv[2])
        print(f"{sys.argv[2]}: {result.line() if result else 'no test ran'}")
        # A program that ran nothing is no pass; the cases a program skipped (what Wine cannot do,
        # say) are named, and each says why in the program's output.
        if result:
            for case in result.skipped_cases:
                print(f"  skipped: {case}")
        sys.exit(0 if result and result.passed and not result.failed and not result.skipped_whole else 1)
    elif len(sys.argv) == 2 and not sys.argv[1].startswith("-"):
        Path(sys.argv[1]).write_text(report())
        print(f"reliability report: {sys.argv[1]}")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
