"""What the fault-injection run fails: the plugin's file calls, how each fails, and the plans
(one run each) that make up the table's rows.

A point is one of the plugin's fault points (Ravento/platform/posix/FaultPoint.h,
"ravento/<file>/<call>"): every file call of its POSIX seam. ravento_fault_scope
(FaultScope.cpp) sets them.
"""
from __future__ import annotations

import errno
from dataclasses import dataclass
from pathlib import Path

E = errno
# The points, and the errno values each can fail with.
ALL_POINTS = {
    "ravento/replay/open": [E.EACCES, E.ENOSPC, E.EMFILE, E.EROFS],
    "ravento/replay/write": [E.ENOSPC, E.EIO, E.EDQUOT],
    "ravento/replay/fsync": [E.EIO, E.ENOSPC],
    "ravento/replay/close": [E.EIO, E.EINTR],
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
    "ravento/directories/stat": [E.EIO, E.EACCES],
}
MOVE = "ravento/replay/renameat2"
# Calls the plugin makes only after another call failed in one way: a move with EINVAL (no
# RENAME_NOREPLACE) links, with ENOENT asks which side is missing; a failed write removes the
# unfinished file.
PREREQUISITES = {
    "ravento/replay/link": (MOVE, E.EINVAL),
    "ravento/replay/lstat": (MOVE, E.ENOENT),
    "ravento/replay/unlink": ("ravento/replay/write", E.ENOSPC),
}
# A folder that cannot be looked into ends the folder discovery or the replay lookup with an error,
# as a failed listing would; the callback boundary logs it. Without a replays folder, every lookup
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
    """Always with the first errno, then at random with each seed; a prerequisite always."""
    before = {}
    mode_note = ""
    if name in PREREQUISITES:
        first, first_errno = PREREQUISITES[name]
        before = {first: Fault([first_errno])}
        mode_note = f", {first.rsplit('/', 1)[1]} {E.errorcode[first_errno]}"
    runs = [Plan(name, f"always {E.errorcode[errnos[0]]}{mode_note}", {**before, name: Fault(errnos[:1])})]
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
