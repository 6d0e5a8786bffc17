"""What the fault-injection run fails: the plugin's file calls, how each fails, and the plans
(one run each) that make up the table's rows.

A point is one of the plugin's fault points (Ravento/platform/posix/FaultPoint.h,
"ravento/<part>/<call>"): every file call of its POSIX seam whose result the plugin uses.
ravento_fault_scope (FaultScope.cpp) sets them. The markings in the seam's code are the list of
points: drift() compares them with ALL_POINTS, and the run stops when they differ.
"""
from __future__ import annotations

import errno
import re
from dataclasses import dataclass
from pathlib import Path

E = errno
# The points, and the errno values each can fail with.
ALL_POINTS = {
    "ravento/replay/open": [E.EACCES, E.ENOSPC, E.EMFILE, E.EROFS],
    "ravento/replay/read": [E.EIO, E.EINTR],
    "ravento/replay/write": [E.ENOSPC, E.EIO, E.EDQUOT],
    "ravento/replay/fsync": [E.EIO, E.ENOSPC],
    "ravento/replay/close": [E.EIO, E.EINTR],
    "ravento/replay/fstat": [E.EIO, E.EOVERFLOW],
    "ravento/replay/rename": [E.EACCES, E.EIO, E.EBUSY, E.EROFS, E.ENOSPC],
    "ravento/replay/unlink": [E.EACCES, E.EBUSY, E.EIO, E.EROFS],
    "ravento/replay/opendir": [E.ENOMEM],
    "ravento/replay/readdir": [E.EIO],
    "ravento/replay/renameat2": [E.EIO, E.EXDEV, E.EINVAL, E.ENOSPC, E.EACCES, E.EEXIST],
    "ravento/replay/link": [E.EPERM, E.EIO, E.EACCES],
    "ravento/replay/stat": [E.EIO, E.EACCES],
    "ravento/replay/lstat": [E.EIO, E.EACCES],
    "ravento/replay/access": [E.EACCES, E.EIO],
    "ravento/replay/mkdir": [E.EACCES, E.ENOSPC, E.EROFS],
    "ravento/held/fstat": [E.EIO, E.EOVERFLOW],
    "ravento/held/flock": [E.ENOLCK, E.EWOULDBLOCK],  # EWOULDBLOCK: held elsewhere, waited for
    "ravento/held/lstat": [E.EIO, E.EACCES],
    "ravento/directories/stat": [E.EIO, E.EACCES],
}
MOVE = "ravento/replay/renameat2"
# Calls the plugin makes only after another call failed in one way: a move with EINVAL (no
# RENAME_NOREPLACE) links, with ENOENT asks which side is missing; a failed write removes the
# unfinished file.
# (the call, its errno, the calls that pass first)
PREREQUISITES = {
    "ravento/replay/link": (MOVE, E.EINVAL, 0),
    "ravento/replay/lstat": (MOVE, E.ENOENT, 0),
    "ravento/replay/unlink": ("ravento/replay/write", E.ENOSPC, 0),
    # Only a move to the backup folder that crosses file systems copies, reading the old file and
    # asking what it is; the first move (the repaired file into place) must pass to get there.
    "ravento/replay/read": (MOVE, E.EXDEV, 1),
    "ravento/replay/fstat": (MOVE, E.EXDEV, 1),
}
# A folder lock whose file cannot be confirmed as the one held is waited for, 30 s a reply, more
# than a load may take: such a point fails at random only, never on every call.
WAITED_FOR = {"ravento/held/lstat"}
# A folder that cannot be looked into ends the folder discovery or the replay lookup with an error,
# as a failed listing would; the routine logs it as the callback boundary logs an error that ends
# a callback ("<routine> failed: ..."). Without a replays folder, every lookup
# ends so. No other fault may reach a boundary.
REACHES_BOUNDARY = {
    "ravento/directories/stat": {"InitDemosFolder", "OnPlayReplay"},
    "ravento/replay/stat": {"OnPlayReplay"},
    "ravento/replay/access": {"OnPlayReplay"},
}
SEEDS = [1, 2, 3, 4]
EVERY_POINT_SEEDS = list(range(1, 9))
@dataclass(frozen=True)
class Fault:
    errnos: list[int]
    probability: float = 1  # 0: the calls are only counted
    passing: int = 0  # the first calls pass
    limit: int = 0  # fails at most this often (0: no limit)

    def always(self) -> bool:
        return self.probability == 1 and not self.passing and not self.limit

    def entry(self) -> str:
        """ravento_fault_scope's form: "ERRNO,...@P+F#K"."""
        text = ",".join(map(str, self.errnos)) + f"@{self.probability:g}"
        return text + (f"+{self.passing}" if self.passing else "") + (f"#{self.limit}" if self.limit else "")


@dataclass
class Plan:
    point: str  # the table's row: the point under test
    mode: str
    faults: dict[str, Fault]
    seed: int = 1
    crash_at: int = 0
    progress: bool = False  # nothing can fail: every answer must take effect

    def environment(self, report: Path) -> dict[str, str]:
        return {
            "RAVENTO_FAULTS": " ".join(f"{name}={fault.entry()}" for name, fault in self.faults.items()),
            "RAVENTO_FAULT_SEED": str(self.seed),
            "RAVENTO_FAULT_CRASH_AT": str(self.crash_at),
            "RAVENTO_FAULT_REPORT": str(report),
        }

    def may_reach_boundary(self) -> set[str]:
        return set().union(*(REACHES_BOUNDARY.get(name, set()) for name in self.faults))

    def can_fail(self) -> bool:
        return bool(self.crash_at) or any(fault.probability > 0 for fault in self.faults.values())

    def must_reach_boundary(self) -> bool:
        """Whether a point whose error the boundary logs fails on every call."""
        return any(name in REACHES_BOUNDARY and fault.always() for name, fault in self.faults.items())


def counting_only() -> dict[str, Fault]:
    return {name: Fault(errnos, 0) for name, errnos in ALL_POINTS.items()}


def point_plans(name: str, errnos: list[int]) -> list[Plan]:
    """Always with the first errno (unless WAITED_FOR), then at random with each seed; a
    prerequisite always (after the calls it lets pass)."""
    before = {}
    mode_note = ""
    if name in PREREQUISITES:
        first, first_errno, passing = PREREQUISITES[name]
        before = {first: Fault([first_errno], passing=passing)}
        mode_note = f", {first.rsplit('/', 1)[1]} {E.errorcode[first_errno]}" + (f" from call {passing + 1}" if passing else "")
    runs = []
    if name not in WAITED_FOR:
        runs.append(Plan(name, f"always {E.errorcode[errnos[0]]}{mode_note}", {**before, name: Fault(errnos[:1])}))
    random_mode = f"random 0.5, seeds {SEEDS[0]}-{SEEDS[-1]}{mode_note}"
    runs += [Plan(name, random_mode, {**before, name: Fault(errnos, 0.5)}, seed) for seed in SEEDS]
    return runs


def plans(calls_per_run: int) -> list[Plan]:
    every = []
    for name, errnos in ALL_POINTS.items():
        every += point_plans(name, errnos)
    # Moves on file systems without RENAME_NOREPLACE still succeed. A move between file systems is
    # copied under a temporary name by the reply's protocol; an EXDEV injected into every move also
    # strikes the renames within one folder, which no file system refuses so, and then only safety
    # can be asked (the copy itself is proven by the tests with a backup folder on /dev/shm).
    every.append(Plan(MOVE, "always EINVAL (fallback)", {MOVE: Fault([E.EINVAL])}, progress=True))
    every.append(Plan(MOVE, "always EXDEV", {MOVE: Fault([E.EXDEV])}))
    # A move between file systems whose source cannot be removed afterwards.
    every.append(
        Plan(
            "ravento/replay/unlink",
            "always EACCES, renameat2 EXDEV",
            {MOVE: Fault([E.EXDEV]), "ravento/replay/unlink": Fault([E.EACCES])},
        )
    )
    # A repaired file that appears between the write and the first move: the old file goes to the
    # backup folder first, and must come back when the rename over the repaired file (the second
    # rename, after the one that marks the temporary file whole) fails.
    every.append(
        Plan(
            "ravento/replay/rename",
            "from the 2nd EACCES, renameat2 EEXIST once",
            {MOVE: Fault([E.EEXIST], limit=1), "ravento/replay/rename": Fault([E.EACCES], passing=1)},
        )
    )
    every_mode = f"random 0.15, seeds {EVERY_POINT_SEEDS[0]}-{EVERY_POINT_SEEDS[-1]}"
    every_faults = {name: Fault(errnos, 0.15) for name, errnos in ALL_POINTS.items()}
    every += [Plan("every point", every_mode, every_faults, seed) for seed in EVERY_POINT_SEEDS]
    crash_mode = f"crash at call n = 1-{calls_per_run}"
    every += [Plan("every point", crash_mode, counting_only(), crash_at=n) for n in range(1, calls_per_run + 1)]
    return every


SEAM = Path(__file__).resolve().parents[2] / "Ravento" / "platform" / "posix"
MARKED = re.compile(r'RAVENTO_FAULT(?:_NULL)?\(\s*"(?P<name>[^"]+)",\s*::(?P<call>\w+)\(')
FILE_CALLS = re.compile(r"::(?P<call>open|read|write|fsync|close|fstat|rename|renameat2|unlink|opendir|readdir"
                        r"|link|stat|lstat|access|mkdir|flock)\(")
DROPPED = re.compile(r"^\s*::\w+\(.*\);$")  # a call that is a statement of its own


def drift() -> list[str]:
    """Where the seam's markings and ALL_POINTS differ: a point without a plan, a plan for no
    point, a point named after another call, a file call whose result is used but not marked."""
    found = []
    marked = set()
    for source in sorted(SEAM.glob("*.cpp")):
        text = source.read_text()
        marks = list(MARKED.finditer(text))
        marked_at = {mark.start("call") for mark in marks}
        for mark in marks:
            marked.add(mark["name"])
            if mark["name"].rsplit("/", 1)[1] != mark["call"]:
                found.append(f"{source.name}: {mark['name']} marks ::{mark['call']}")
        for call in FILE_CALLS.finditer(text):
            line_start = text.rfind("\n", 0, call.start()) + 1
            line = text[line_start : text.find("\n", call.start())]
            if call.start("call") not in marked_at and not DROPPED.match(line):
                number = text.count("\n", 0, call.start()) + 1
                found.append(f"{source.name}:{number}: ::{call['call']} is not a fault point")
    found += [f"{name}: marked in the code, no plan" for name in sorted(marked - set(ALL_POINTS))]
    found += [f"{name}: planned, marked nowhere in the code" for name in sorted(set(ALL_POINTS) - marked)]
    return found
