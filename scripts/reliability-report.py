#!/usr/bin/env python3
"""Writes docs/reliability.md from the logs of one test run: what was tried, how often, and how
it ended. Nothing in it is typed by hand.

Reads:
  build/fuzz/logs/<target>.log   libFuzzer's output, as scripts/fuzz.sh leaves it
  build/reliability/<config>.txt lines "[reliability] <name>: key=value ..." that tests append
                                 to the file named by RAVENTO_RELIABILITY_LOG (scripts/test.sh
                                 sets it per configuration)
  build/ctest-<config>.log       the summary line of each configuration's ctest run

Usage: python3 scripts/reliability-report.py [OUTPUT]   (default docs/reliability.md)
"""
import datetime
import hashlib
import os
import platform
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build"

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
    for file in sorted((BUILD / "reliability").glob("*.txt")):
        for line in read(file).splitlines():
            match = re.match(r"\s*\[reliability\] ([^:]+):\s*(.*)", line)
            if match:
                pairs = [tuple(word.split("=", 1)) for word in match.group(2).split() if "=" in word]
                found.append((file.stem, match.group(1).strip(), pairs))
    return found


def ctest_summaries():
    summaries = []
    for log in sorted(BUILD.glob("ctest-*.log")):
        lines = re.findall(r"\d+% tests passed, \d+ tests failed out of \d+", read(log))
        if lines:
            summaries.append((log.stem.removeprefix("ctest-"), lines[-1]))
    return summaries


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
           "What the test command (`bash scripts/test.sh`) tried on its last run, with counts and outcomes.",
           "Written by `scripts/reliability-report.py` from that run's logs; not edited by hand.", "",
           f"Run: {now}, commit {commit()}, on {machine()}.", ""]

    out += ["## Fuzzing", "",
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
    out += ["", f"{ran} of {len(FUZZ_TARGETS)} targets ran, {total:,} executions in all.", ""]

    out += ["## Model, stress and other counted tests", ""]
    lines = reliability_lines()
    if lines:
        out += ["| Test | Configuration | Counts |", "|---|---|---|"]
        for configuration, name, pairs in lines:
            counts = ", ".join(f"{key} {value}" for key, value in pairs)
            out.append(f"| {name} | {configuration} | {counts} |")
    else:
        out.append("No test of this run reported counts.")
    out.append("")

    out += ["## Test suites", ""]
    summaries = ctest_summaries()
    if summaries:
        out += ["| Configuration | Result |", "|---|---|"]
        out += [f"| {configuration} | {summary} |" for configuration, summary in summaries]
    else:
        out.append("No test suite ran.")
    out.append("")
    return "\n".join(out)


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "docs" / "reliability.md"
    target.write_text(report())
    print(f"reliability report: {target}")


if __name__ == "__main__":
    main()
