"""Real system-call faults on the real host, the real plugin and the stand-in service.

Each run loads the fault-injection build of the plugin into devhost twice, in a sandbox of its
own. The first load plays three replays (a 200, a 200 over an earlier repair, a 400) and one
whose file is missing, while chosen system calls of the plugin fail: every file call of the
plugin's POSIX seam is a libfiu fault point (Ravento/platform/posix/FaultPoint.h), set by
ravento_fault_scope. Only the plugin's calls fail: the host's console, upload and transport
never do. The next load runs without faults and plays one more replay, whose reply
settles what the first load left. After each load ravento_replay_invariant (the tests' own check
of the replay guarantee, tests/faults/ReplayInvariant.cpp) finds the two folders sound and
nothing outside them changed (sandbox.py), devhost exits 0 (or was killed by a planned crash), no error reached the host, and only the
callbacks that may let a fault's error through log one at their boundary.

Each point fails always (with its first errno), then at random (every call with probability
0.5, errno values at random) with fixed seeds; then every point at random together; then the
process is killed at its n-th call to any point, for every n the run reaches. Prints a table
and exits non-zero when an invariant broke, an error escaped or a planned fault never struck.
"""
from __future__ import annotations

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from collections import OrderedDict
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path
from subprocess import PIPE

from fault_plans import ALL_POINTS, Plan, counting_only, drift, plans
from sandbox import Replay, Sandbox, replay_bytes

FIRST_LOAD_REPLAYS = [
    Replay("1A00000000000001", replay_bytes("1A00000000000001", 150_000), 200),  # copied in three pieces
    Replay("2B00000000000002", replay_bytes("2B00000000000002", 3000), 200, b"an earlier repair"),
    Replay("3C00000000000003", replay_bytes("3C00000000000003", 3000, b"UNREPAIRABLE"), 400),
]
NEXT_LOAD_REPLAY = Replay("5E00000000000005", replay_bytes("5E00000000000005", 3000), 200)
REPLAYS = FIRST_LOAD_REPLAYS + [NEXT_LOAD_REPLAY]
MISSING_REPLAY = "4D00000000000004"  # played with no file: the lookup's not-found path
PLAYED = "2025-06-14"


def script(replays: list[str]) -> str:
    # The plugin looks for the replays folder one second after it loads.
    lines = ["wait 1.1"]
    for replay_id in replays:
        lines += [f"play {replay_id} {PLAYED}", "settle"]
    return "\n".join(lines + ["quit", ""])


FIRST_LOAD = script([replay.id for replay in FIRST_LOAD_REPLAYS] + [MISSING_REPLAY])
NEXT_LOAD = script([NEXT_LOAD_REPLAY.id])


@dataclass
class Load:
    status: int
    stdout: str
    stderr: str
    hung_stacks: str = ""  # a load that hung: its threads' stacks


@dataclass
class Outcome:
    plan: Plan
    calls: int = 0  # the plugin's calls to the point under test
    struck: int = 0  # of those, failed (for a crash plan: 1 when it crashed)
    broken: list[str] = field(default_factory=list)
    escaped: list[str] = field(default_factory=list)
    first_load_output: str = ""
    hung_stacks: str = ""


class Runner:
    def __init__(self, bin_dir: Path, service_options: list[str], work: Path):
        self.devhost = bin_dir / "devhost"
        self.plugin = bin_dir / "Ravento.so"
        self.preload = str(bin_dir / "libravento_fault_scope.so")
        self.invariant = str(bin_dir / "ravento_replay_invariant")
        self.service_options = service_options
        self.work = work
        self.first_script = work / "first-load.txt"
        self.next_script = work / "next-load.txt"
        self.first_script.write_text(FIRST_LOAD)
        self.next_script.write_text(NEXT_LOAD)

    def load(self, sandbox: Sandbox, script_file: Path, fault_environment: dict[str, str] | None) -> Load:
        """One devhost run; with fault_environment, under ravento_fault_scope."""
        env = dict(os.environ, HOME=str(sandbox.home), XDG_CONFIG_HOME="")
        if fault_environment is not None:
            env.update(fault_environment, LD_PRELOAD=self.preload)
        command = [str(self.devhost), "--plugin", str(self.plugin), "--script", str(script_file)]
        with subprocess.Popen(
            command + self.service_options, cwd=sandbox.cwd, env=env, stdout=PIPE, stderr=PIPE, text=True
        ) as devhost:
            try:
                stdout, stderr = devhost.communicate(timeout=LOAD_TIMEOUT)
            except subprocess.TimeoutExpired:
                stacks = thread_stacks(devhost.pid)
                devhost.kill()
                stdout, stderr = devhost.communicate()
                return Load(-1, stdout, f"{stderr}devhost: still running after {LOAD_TIMEOUT} s\n", stacks)
        return Load(devhost.returncode, stdout, stderr)

    def broken(self, sandbox: Sandbox, settled: bool, answered: list[Replay]) -> list[str]:
        """What ravento_replay_invariant finds broken in the two folders; answered: the replays
        whose answers must have taken effect."""
        command = [self.invariant] + (["--settled"] if settled else [])
        for replay in answered:
            command += ["--answered", replay.id]
        command += [str(sandbox.demos), str(sandbox.backups), str(sandbox.expected)]
        check = subprocess.run(command, capture_output=True, text=True)
        if check.returncode not in (0, 1) or (check.returncode == 1) != bool(check.stdout.strip()):
            return [f"ravento_replay_invariant failed ({check.returncode}): {check.stderr.strip()}"]
        return check.stdout.splitlines()

    def run(self, plan: Plan) -> Outcome:
        outcome = Outcome(plan)
        with tempfile.TemporaryDirectory(dir=self.work) as folder:
            sandbox = Sandbox(Path(folder) / "sandbox")
            sandbox.root.mkdir()
            sandbox.populate(REPLAYS)
            outside = sandbox.outside_folders()
            report = Path(folder) / "report.txt"

            first = self.load(sandbox, self.first_script, plan.environment(report))
            outcome.first_load_output = first.stdout + first.stderr
            outcome.hung_stacks = first.hung_stacks
            crashed = bool(plan.crash_at) and first.status == -signal.SIGKILL
            outcome.escaped += escapes("first load", first, plan.may_reach_boundary(), crashed)
            if plan.must_reach_boundary() and not BOUNDARY_LINE.search(first.stdout):
                outcome.escaped.append("first load: the error of a failed folder query was not logged")
            outcome.broken += self.broken(sandbox, False, FIRST_LOAD_REPLAYS if plan.progress else [])
            outcome.broken += sandbox.changed_outside(outside)
            outcome.calls, outcome.struck = counts(report, plan)
            if plan.crash_at:
                outcome.struck = 1 if crashed else 0

            following = self.load(sandbox, self.next_script, None)
            outcome.escaped += escapes("next load", following, set(), False)
            outcome.hung_stacks += following.hung_stacks
            settled = self.broken(sandbox, True, [NEXT_LOAD_REPLAY]) + sandbox.changed_outside(outside)
            outcome.broken += [f"after the next load: {text}" for text in settled]
        return outcome


LOAD_TIMEOUT = 60  # seconds; a load takes about two


def thread_stacks(pid: int) -> str:
    """What a hung devhost is doing, when gdb is at hand."""
    if not shutil.which("gdb"):
        return ""
    dump = subprocess.run(
        ["gdb", "-batch", "-p", str(pid), "-ex", "thread apply all bt"], capture_output=True, text=True, timeout=60
    )
    return dump.stdout


BOUNDARY_LINE = re.compile(r"^(\w+) failed: ", re.MULTILINE)


def escapes(which: str, load: Load, may_reach_boundary: set[str], crashed: bool) -> list[str]:
    found = []
    if load.status != 0 and not crashed:
        found.append(f"{which}: devhost exit status {load.status}")
    found += [f"{which}: {line}" for line in load.stderr.splitlines() if " threw" in line]
    for line in load.stdout.splitlines():
        at_boundary = BOUNDARY_LINE.match(line)
        if at_boundary and at_boundary.group(1) not in may_reach_boundary:
            found.append(f"{which}: reached the callback boundary: {line}")
    return found


def counts(report: Path, plan: Plan) -> tuple[int, int]:
    """The plugin's calls to the plan's point (to every point for a row of no single point) and
    how many failed, from ravento_fault_scope's report."""
    calls = struck = 0
    if report.exists():
        for line in report.read_text().splitlines():
            name, made, failed = line.split()
            if name == plan.point or plan.point not in ALL_POINTS:
                calls += int(made)
                struck += int(failed)
    return calls, struck


@dataclass
class Row:
    runs: int = 0
    calls: int = 0
    struck: int = 0
    broken: int = 0
    escaped: int = 0
    expects_strikes: bool = True
    crashes: bool = False


def tabulate(outcomes: list[Outcome]) -> tuple[OrderedDict, list[str]]:
    rows: OrderedDict[tuple[str, str], Row] = OrderedDict()
    failures = []
    for outcome in outcomes:
        plan = outcome.plan
        row = rows.setdefault((plan.point, plan.mode), Row(expects_strikes=plan.can_fail(), crashes=bool(plan.crash_at)))
        row.runs += 1
        row.calls += outcome.calls
        row.struck += outcome.struck
        row.broken += bool(outcome.broken)
        row.escaped += bool(outcome.escaped)
        if outcome.broken or outcome.escaped:
            where = f"{plan.point}, {plan.mode}, seed {plan.seed}" + (f", n = {plan.crash_at}" if plan.crash_at else "")
            failures.append(f"FAILED {where}:")
            failures += [f"  {text}" for text in outcome.broken + outcome.escaped]
            failures += [f"  | {line}" for line in outcome.first_load_output.splitlines()[-12:]]
            failures += [f"  stack | {line}" for line in outcome.hung_stacks.splitlines()]
        if plan.crash_at and not outcome.struck:
            failures.append(f"FAILED every point: no crash at call {plan.crash_at}, which the run without faults made")
    for (point, mode), row in rows.items():
        if row.expects_strikes and row.struck == 0:
            failures.append(f"FAILED {point}, {mode}: never struck, so it proved nothing")
    return rows, failures


def print_table(rows: OrderedDict) -> None:
    header = f"{'fault point':<26} {'mode':<52} {'runs':>4} {'calls':>6} {'struck':>6}  {'broken':>6} {'escaped':>7}"
    print(header)
    print("-" * len(header))
    for (point, mode), row in rows.items():
        calls = "-" if row.crashes else row.calls
        print(f"{point:<26} {mode:<52} {row.runs:>4} {calls:>6} {row.struck:>6}  {row.broken:>6} {row.escaped:>7}")
    print("calls: the plugin's calls to the point (to all points for 'every point'); struck: how many")
    print("failed (for a crash: runs killed there); broken: runs after which the invariant did not hold;")
    print("escaped: runs in which devhost failed, or an error reached the host or a callback boundary")
    print("that no fault may reach")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", type=Path, required=True, help="the faults preset's bin folder")
    parser.add_argument("--work", type=Path, required=True, help="a folder for the sandboxes")
    parser.add_argument("--jobs", type=int, default=6, help="runs at a time (devhost mostly waits)")
    parser.add_argument("--only", type=re.compile, help="only the rows whose point or mode this matches")
    parser.add_argument("service_options", nargs=argparse.REMAINDER, help="devhost's options for the service")
    args = parser.parse_args()
    if drifted := drift():
        print("\n".join(["FAILED: the fault points of the code and of fault_plans.py differ:"] + drifted))
        return 1
    runner = Runner(args.bin, [option for option in args.service_options if option != "--"], args.work)

    # A run without faults that counts the plugin's calls: the progress baseline and the crash range.
    baseline = runner.run(Plan("(none)", "counted, never failed", counting_only(), progress=True))
    all_plans = plans(baseline.calls)
    if args.only:
        all_plans = [plan for plan in all_plans if args.only.search(f"{plan.point} {plan.mode}")]
    with ThreadPoolExecutor(max_workers=args.jobs) as pool:
        outcomes = [baseline] + list(pool.map(runner.run, all_plans))
    rows, failures = tabulate(outcomes)
    print_table(rows)
    for line in failures:
        print(line)
    verdict = "FAILED" if failures else "no broken invariant, no escaped error"
    print(f"fault-injection: {len(outcomes)} runs, {verdict}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
