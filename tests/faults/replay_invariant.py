"""What the replays folder and the backup folder must show after any fault, and after none.

A sandbox is a player's home as the plugin sees it: Documents/My Games/Pellacor/TAGame with the
replays folder "Demos" (the plugin creates "OV_Ravento_BackupReplays" beside it), decoys around
them, and a working folder for the host. The invariant, checked after every load:

- every replay is listed: as "{id}.replay" or as a complete "{id}_fixed.replay" (the service's
  repaired bytes, the bytes of an earlier repair, or, after a 400, the original bytes);
- its original bytes are kept, in the replays folder or in the backup folder;
- a file under a replay's name never holds anything else, and an earlier repair is not lost;
- nothing else in either folder carries a name the game lists (".replay"), and after the next
  load nothing else is left there at all;
- nothing outside the two folders changed.

Progress, checked where no fault can have struck: every 200 left the repaired bytes in
"{id}_fixed.replay" and the original in "{id}_copy.replay"; every 400 left the original in
"{id}_fixed.replay".
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

    def complete_repairs(self) -> set[bytes]:
        """The contents "{id}_fixed.replay" may have."""
        done = {self.answered()}
        if self.earlier_repair is not None:
            done.add(self.earlier_repair)
        return done


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

    def outside_folders(self) -> dict[str, str]:
        """Every entry outside the two folders, with what it holds."""
        state = {}
        for folder, dirs, files in os.walk(self.root):
            here = Path(folder)
            dirs[:] = [d for d in dirs if here / d not in (self.demos, self.backups)]
            for name in dirs:
                state[str((here / name).relative_to(self.root))] = "folder"
            for name in files:
                path = here / name
                state[str(path.relative_to(self.root))] = (
                    "link " + os.readlink(path) if path.is_symlink() else hashlib.sha256(path.read_bytes()).hexdigest()
                )
        return state


def _contents(folder: Path) -> dict[str, bytes | None]:
    """Name -> bytes of each regular file in folder; None for anything else."""
    if not folder.is_dir():
        return {}
    return {
        entry.name: entry.read_bytes() if entry.is_file() and not entry.is_symlink() else None
        for entry in folder.iterdir()
    }


def violations(sandbox: Sandbox, replays: list[Replay], outside_before: dict[str, str], settled: bool) -> list[str]:
    """Every way the folders break the invariant; settled: the next load has run."""
    demos = _contents(sandbox.demos)
    backups = _contents(sandbox.backups)
    found = []
    for replay in replays:
        plain = demos.pop(f"{replay.id}.replay", None)
        fixed = demos.pop(f"{replay.id}_fixed.replay", None)
        copy = backups.pop(f"{replay.id}_copy.replay", None)
        if plain is None and fixed is None:
            found.append(f"{replay.id}: listed under neither {replay.id}.replay nor {replay.id}_fixed.replay")
        if plain is not None and plain != replay.original:
            found.append(f"{replay.id}.replay no longer holds the original bytes")
        if copy is not None and copy != replay.original:
            found.append(f"{replay.id}_copy.replay does not hold the original bytes")
        if fixed is not None and fixed not in replay.complete_repairs():
            found.append(f"{replay.id}_fixed.replay is not a complete repair ({len(fixed)} bytes)")
        if replay.original not in (plain, copy, fixed):
            found.append(f"{replay.id}: the original bytes are in neither folder")
        if replay.earlier_repair is not None and fixed is None:
            found.append(f"{replay.id}: the earlier repair {replay.id}_fixed.replay is lost")
    for name in demos:
        if settled:
            found.append(f"Demos/{name} is left after the next load")
        elif name.endswith(".replay"):
            found.append(f"Demos/{name}: an unfinished file under a name the game lists")
    found += [f"{BACKUP_FOLDER}/{name} does not belong there" for name in backups]
    outside = sandbox.outside_folders()
    for name in sorted(set(outside) | set(outside_before)):
        if outside.get(name) != outside_before.get(name):
            found.append(f"outside the two folders, {name} changed")
    return found


def missing_progress(sandbox: Sandbox, replays: list[Replay]) -> list[str]:
    """Every answer whose effect is not there, for a run in which no fault struck."""
    found = []
    for replay in replays:
        plain = sandbox.demos / f"{replay.id}.replay"
        fixed = sandbox.demos / f"{replay.id}_fixed.replay"
        copy = sandbox.backups / f"{replay.id}_copy.replay"
        if plain.exists():
            found.append(f"{replay.id}.replay is still listed after a {replay.answer}")
        if not fixed.is_file() or fixed.read_bytes() != replay.answered():
            found.append(f"{replay.id}_fixed.replay does not hold the answer to the {replay.answer}")
        if replay.answer == 200 and (not copy.is_file() or copy.read_bytes() != replay.original):
            found.append(f"{replay.id}_copy.replay does not hold the original after a 200")
        if replay.answer == 400 and copy.exists():
            found.append(f"{replay.id}_copy.replay was made after a 400")
    return found
