"""The sandbox of one fault-injection run: a player's home as the plugin sees it, with
Documents/My Games/Pellacor/TAGame holding the replays folder "Demos" (the plugin creates
"OV_Ravento_BackupReplays" beside it), decoys around them, a working folder for the host, and the
expected folder that tells ravento_replay_invariant (tests/faults/ReplayInvariant.cpp) what each
replay's files may hold. That program checks the two folders after every load; this module checks
only that nothing outside them changed.
"""
from __future__ import annotations

import hashlib
import os
import random
from dataclasses import dataclass
from pathlib import Path

BACKUP_FOLDER = "OV_Ravento_BackupReplays"
REPAIRED_PREFIX = b"REPAIRED:"  # what repair_replay.py puts in front


@dataclass(frozen=True)
class Replay:
    id: str
    original: bytes
    answer: int  # what the service answers: 200 (repaired) or 400 (cannot be repaired)
    earlier_repair: bytes | None = None  # an "{id}_fixed.replay" from an earlier repair

    def answered(self) -> bytes:
        """What "{id}_fixed.replay" holds once the answer took effect."""
        return REPAIRED_PREFIX + self.original if self.answer == 200 else self.original


def replay_bytes(replay_id: str, size: int, marker: bytes = b"") -> bytes:
    """A binary replay: CR, LF and NUL bytes must come back unchanged."""
    noise = random.Random(replay_id).randbytes(size)
    return b"PELLACOR-REPLAY " + replay_id.encode() + b"\r\n\0" + marker + noise


class Sandbox:
    def __init__(self, root: Path):
        self.root = root
        self.home = root / "home"
        self.game = self.home / "Documents" / "My Games" / "Pellacor" / "TAGame"
        self.demos = self.game / "Demos"
        self.backups = self.game / BACKUP_FOLDER
        self.cwd = root / "cwd"
        self.expected = root / "expected"

    def populate(self, replays: list[Replay]) -> None:
        """The replays, and decoys that nothing may touch (one of them under a replay's name)."""
        self.demos.mkdir(parents=True)
        self.cwd.mkdir()
        (self.game / "DemosEpic").mkdir()
        for replay in replays:
            (self.demos / f"{replay.id}.replay").write_bytes(replay.original)
            if replay.earlier_repair is not None:
                (self.demos / f"{replay.id}_fixed.replay").write_bytes(replay.earlier_repair)
        (self.game / "DemosEpic" / f"{replays[0].id}.replay").write_bytes(replays[0].original)
        (self.game / "TAGame.ini").write_bytes(b"[Replays]\r\nKeep=1\r\n")
        (self.home / "Documents" / "notes.txt").write_bytes(b"not a replay\n")
        self.expected.mkdir()
        for replay in replays:
            (self.expected / f"{replay.id}.original").write_bytes(replay.original)
            (self.expected / f"{replay.id}.answer").write_bytes(replay.answered())
            if replay.earlier_repair is not None:
                (self.expected / f"{replay.id}.earlier").write_bytes(replay.earlier_repair)

    def outside_folders(self) -> dict[str, str]:
        """Every entry outside the two folders, with what it holds."""
        state = {}
        for folder, dirs, files in os.walk(self.root):
            here = Path(folder)
            dirs[:] = [d for d in dirs if here / d not in (self.demos, self.backups, self.expected)]
            for name in dirs:
                state[str((here / name).relative_to(self.root))] = "folder"
            for name in files:
                path = here / name
                state[str(path.relative_to(self.root))] = (
                    "link " + os.readlink(path) if path.is_symlink() else hashlib.sha256(path.read_bytes()).hexdigest()
                )
        return state

    def changed_outside(self, before: dict[str, str]) -> list[str]:
        """Every entry outside the two folders that changed since before."""
        after = self.outside_folders()
        return [
            f"outside the two folders, {name} changed"
            for name in sorted(set(after) | set(before))
            if after.get(name) != before.get(name)
        ]
