#!/usr/bin/env python3
"""Mutants the test suite must kill.

Each mutant below breaks one critical piece of one function the way a plausible mistake would: it
names the function it breaks, and only that function's body is searched for the text it changes,
so the rest of the file can change freely. The script copies the working tree to build/mutants/src, builds the test programs once, checks that
they pass unchanged, then applies each mutant in turn, rebuilds incrementally and runs the tests
named for it. A mutant is killed when one of them fails (or the code no longer builds, which is
reported apart: such a mutant tests nothing). One whose function, or whose text in it, is gone
says so and fails the run. Prints a table; exit status 1 when any mutant
survived or the unchanged tests failed.

Usage: scripts/mutants.py [--only NAME]...
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRATCH = os.path.join(ROOT, "build", "mutants")
SOURCE = os.path.join(SCRATCH, "src")
BUILD = os.path.join(SCRATCH, "build")


class Mutant:
    def __init__(self, name, path, where, find, replace, tests):
        self.name, self.path, self.where, self.find, self.replace = name, path, where, find, replace
        self.tests = tests


# A function's definition: its (qualified) name, its parameters, then its body's brace.
DEFINITION = re.compile(r"\b(?P<name>[A-Za-z_][\w:~]*)\s*\((?:[^;{}()]|\([^;{}()]*\))*\)\s*"
                        r"(?:const\s*)?(?:noexcept\s*)?(?:override\s*)?(?::[^;{]*)?\{")


def function_body(text, where):
    """(start, end) of the body of the function named where (or ending in ::where), else None."""
    for match in DEFINITION.finditer(text):
        name = match.group("name")
        if name != where and not name.endswith("::" + where):
            continue
        depth = 0
        for at in range(match.end() - 1, len(text)):
            depth += {"{": 1, "}": -1}.get(text[at], 0)
            if depth == 0:
                return match.end() - 1, at + 1
    return None


def mutated(mutant, original):
    """The file with the mutant applied, or why it cannot be."""
    body = function_body(original, mutant.where)
    if body is None:
        return None, f"NOT APPLIED: no function {mutant.where} in {mutant.path}"
    start, end = body
    if original[start:end].count(mutant.find) != 1:
        return None, f"NOT APPLIED: {mutant.where} no longer holds what it breaks"
    return original[:start] + original[start:end].replace(mutant.find, mutant.replace) + original[end:], None


# where: the function broken; find: the text in it to replace; tests: (program, gtest filter)
# pairs, run in order until one fails.
MUTANTS = [
    Mutant("skip the flush before the rename", "Ravento/platform/posix/ReplayFiles.cpp", "FlushAndClose",
           "if (RAVENTO_FAULT(\"ravento/replay/fsync\", ::fsync(fd)) != 0)", "if (false)",
           [("pipeline_system_call_faults_test", "SystemCallFaults.WrittenAndCopiedFilesAreFlushed*")]),
    Mutant("ignore a failed write or flush", "Ravento/ReplayReplacement.cpp", "WriteWhole",
           "    if (!error)\n        error = closeError;\n", "",
           [("pipeline_replay_files_test", "RepairFailures.*")]),
    Mutant("swap the two moves", "Ravento/ReplayReplacement.cpp", "ReplaceWithRepaired",
           "        if (!placeError)\n            return BackUpBehindNewRepair(oldFile, names, written);\n"
           "        if (platform::IsNameTaken(placeError))\n            return BackUpThenReplaceEarlierRepair(oldFile, names);",
           "        if (!placeError)\n            return BackUpThenReplaceEarlierRepair(oldFile, names);\n"
           "        if (platform::IsNameTaken(placeError))\n            return BackUpBehindNewRepair(oldFile, names, written);",
           [("pipeline_repair_reply_test", "*"), ("pipeline_replay_files_test", "*")]),
    Mutant("drop the move back", "Ravento/ReplayReplacement.cpp", "BackUpThenReplaceEarlierRepair",
           "std::error_code moveBackError = guard.MoveBack();",
           "std::error_code moveBackError;\n    guard.Repaired();",
           [("pipeline_replay_files_test", "RepairFailures.*")]),
    Mutant("keep the repaired file when the backup move fails", "Ravento/ReplayReplacement.cpp", "BackUpBehindNewRepair",
           "        platform::ReplayFiles().RemoveFile(names.repaired);\n", "",
           [("pipeline_replay_files_test", "RepairFailures.*")]),
    Mutant("copy straight to the backup name across volumes", "Ravento/ReplayReplacement.cpp", "MoveToBackup",
           "files.CopyToNewFile(oldFile, names.backupTemporary)", "files.CopyToNewFile(oldFile, names.backupCopy)",
           [("pipeline_replay_files_test", "ReplayFiles.*"), ("model_kill_test", "*CrossVolume*")]),
    Mutant("accept a non-regular file", "Ravento/platform/posix/ReplayFiles.cpp", "ReplayFileSystem::FindExactEntry",
           "found = S_ISREG(status.st_mode);", "found = true;",
           [("pipeline_replay_files_test", "ReplayFiles.ExactEntryLookupFindsRegularFilesOnly")]),
    Mutant("drop the _fixed check", "Ravento/PlayReplay.cpp", "Ravento::OnPlayReplay",
           'replayId.find("_fixed") != std::string::npos || ', "",
           [("pipeline_play_replay_test", "*")]),
    Mutant("shift the date window", "Ravento/ReplayDate.cpp", "IsInRepairWindow",
           "if (date.year != 2025)", "if (date.year != 2025 && date.year != 2026)",
           [("plugin_replay_date_test", "*"), ("pipeline_play_replay_test", "*")]),
    Mutant("clear the rate-limit flag on 429", "Ravento/RepairReply.cpp", "Ravento::ActOnRepairReply",
           "        rateLimitHit = true;", "        rateLimitHit = false;",
           [("pipeline_repair_reply_test", "RepairReply.Status429*")]),
    Mutant("let an exception leave a callback", "Ravento/CallbackBoundary.h", "ContainErrors",
           "        LogContainedError(callbackName, error.what());", "        throw;",
           [("pipeline_replay_files_test", "RepairFailures.*")]),
    Mutant("take the folder lock without holding it", "Ravento/ReplayReplacement.cpp", "Take",
           "            if (!error && held.IsFile(file)) {", "            if (true) {",
           [("model_concurrent_replies_test", "ConcurrentReplies.TwoProcesses*")]),
    Mutant("refuse a reply whose folder lock cannot be had", "Ravento/ReplayReplacement.cpp", "TakeForReply",
           "    if (!error || platform::Is(error, FileError::LockViolation))\n", "    if (true)\n",
           [("pipeline_repair_reply_test", "RepairReply.Status200GoesOnWithout*")]),
    Mutant("settle a file a live reply holds", "Ravento/ReplayReplacement.cpp", "SettleLeftovers",
           "        if (!leftover.Hold(replaysFolder / name, false))",
           "        if (leftover.Hold(replaysFolder / name, false), true)",
           [("pipeline_repair_reply_test", "RepairReply.TheFirstReplySettles*")]),
    Mutant("install a leftover over a listed repair", "Ravento/ReplayReplacement.cpp", "SettleReplaysFolderLeftover",
           "if (id && IsMissing(repaired) && !platform::ReplayFiles().MoveWithoutReplace(file, repaired))",
           "if (id && !platform::ReplayFiles().RenameReplacing(file, repaired))",
           [("pipeline_repair_reply_test", "RepairReply.TheFirstReplySettles*")]),
    Mutant("roll back a repaired file that is not ours", "Ravento/ReplayReplacement.cpp", "BackUpBehindNewRepair",
           "    if (written.IsFile(names.repaired))\n", "    if (true)\n",
           [("pipeline_replay_files_test", "RepairFailures.MoveFailures*")]),
    Mutant("roll back when the original has left", "Ravento/ReplayReplacement.cpp", "BackUpBehindNewRepair",
           "    if (platform::Is(error, FileError::FileNotFound))\n"
           "        return {ReplyStep::RepairedWithoutBackup, error, oldFile};\n", "",
           [("pipeline_repair_reply_test", "RepairReply.Status200LeavesEverything*")]),
    Mutant("call a replay another game repaired a failure", "Ravento/ReplayReplacement.cpp",
           "BackUpThenReplaceEarlierRepair",
           "        if (platform::Is(error, FileError::FileNotFound))\n"
           "            return {ReplyStep::AlreadyRepaired, error, oldFile};\n", "",
           [("pipeline_repair_reply_test", "RepairReply.Status200LeavesEverything*")]),
    Mutant("word no answer as a service status", "Ravento/ReplyResult.cpp", "message",
           "        if (status == 0)\n", "        if (false)\n",
           [("pipeline_repair_reply_test", "RepairReply.OtherStatuses*")]),
    Mutant("write an empty repair", "Ravento/RepairReply.cpp", "Ravento::ActOnRepairReply",
           "    if (size == 0) {\n", "    if (false) {\n",
           [("pipeline_repair_reply_test", "RepairReply.Status200WithAnEmptyBody*")]),
    Mutant("answer 200 for a repair command that wrote nothing", "repairservice/RepairCommand.cpp", "RepairRunner::Repair",
           "    if (output.Size() == 0)\n", "    if (false)\n",
           [("service_repair_test", "RepairService.RunsTheRepairCommand*")]),
    Mutant("lose what memory held when an upload moves to disk", "repairservice/TemporaryFile.cpp",
           "TemporaryFile::MoveToDisk", "    off_t copied = 0;", "    off_t copied = static_cast<off_t>(size);",
           [("service_repair_test", "RepairService.StreamsLargeUploads*")]),
    Mutant("hold every upload in memory", "repairservice/TemporaryFile.cpp", "TemporaryFile::Append",
           "    if (inMemory && Size() + size > memoryBytes && !MoveToDisk())", "    if (false)",
           [("service_repair_test", "RepairService.StreamsLargeUploads*")]),
    Mutant("act on the folder chosen later", "Ravento/PlayReplay.cpp", "Ravento::OnPlayReplay",
           "plugin->OnRepairReply(*replaysFolder,", "plugin->OnRepairReply(plugin->demosFolder.Get(),",
           [("pipeline_repair_reply_test", "RepairReply.RepliesActOnTheFolder*")]),
    Mutant("toggle the window on every refusal", "Ravento/RepairReply.cpp", "Ravento::ActOnRepairReply",
           "        if (ClaimWindowOpening())\n", "        if (true)\n",
           [("pipeline_repair_reply_test", "RepairReply.Status429*")]),
    Mutant("store a typed folder as typed", "Ravento/SettingsPanel.cpp", "CheckFolder",
           "    folder = std::filesystem::absolute(folder).lexically_normal();\n", "",
           [("plugin_settings_panel_test", "SettingsPanelTest.ARelativeFolder*")]),
    Mutant("ask whether the backup folder exists first", "Ravento/DemosFolder.cpp", "MakeBackupFolder",
           "    if (std::error_code error = EnsureBackupFolder(backupFolder))",
           "    if (std::filesystem::exists(backupFolder))\n"
           "        return;\n    if (std::error_code error = EnsureBackupFolder(backupFolder))",
           [("plugin_demos_folder_test", "DemosFolderTest.ABackupFolderNameThatCannotBeQueried*")]),
    Mutant("reach the backup folder through the link", "Ravento/ReplayReplacement.cpp", "BackupFolderBeside",
           "    std::filesystem::path folder = std::filesystem::absolute(replaysFolder).lexically_normal();",
           "    return replaysFolder / \"..\" / kBackupFolderName;\n"
           "    std::filesystem::path folder = replaysFolder.lexically_normal();",
           [("pipeline_repair_reply_test", "RepairReply.Status200MakesTheBackupFolder*")]),
    Mutant("never make a missing backup folder", "Ravento/ReplayReplacement.cpp", "EnsureBackupFolder",
           "std::error_code error = platform::ReplayFiles().CreateFolder(backupFolder);",
           "std::error_code error = platform::ReplayFileError(FileError::AlreadyExists);",
           [("pipeline_repair_reply_test", "RepairReply.Status200MakesTheBackupFolder*")]),
    Mutant("go on when the backup folder cannot be made", "Ravento/ReplayReplacement.cpp", "EnsureBackupFolder",
           "return platform::IsNameTaken(error) ? std::error_code() : error;", "return std::error_code();",
           [("pipeline_replay_files_test", "RepairFailures.*")]),
    Mutant("take any error of the right number for a FileError", "Ravento/platform/ReplayFileErrors.cpp", "Is",
           "return error == ReplayFileError(which);", "return error.value() == static_cast<int>(which);",
           [("pipeline_replay_files_test", "ReplayFiles.AFileErrorIsItsNumber*")]),
    Mutant("a 200 that does nothing", "Ravento/RepairReply.cpp", "Ravento::ActOnRepairReply",
           "    return ReplaceWithRepaired(replaysFolder, replayPath, replayId, std::string_view(data, size));",
           "    return {};",
           [("model_reliability_test", "*")]),
    Mutant("a backup folder in the wrong place", "Ravento/ReplayReplacement.cpp", "BackupFolderBeside",
           "return folder.parent_path() / kBackupFolderName;", "return folder / kBackupFolderName;",
           [("model_reliability_test", "*")]),
    Mutant("finish a pushed-out upload's row", "Ravento/RepairHistory.cpp", "RepairHistory::Finish",
           "    if (record.upload != upload)\n        return;\n", "",
           [("pipeline_repair_reply_test", "RepairReply.TheSettingsWindowLists*")]),
    Mutant("draw outcomes past the window's edge", "Ravento/RepairsSection.cpp", "DrawRow",
           "    ImGui::TextWrapped(", "    ImGui::Text(",
           [("plugin_settings_panel_test", "SettingsPanelTest.RepairRowsWrap*")]),
    Mutant("leave rows that arrive below the window's edge", "Ravento/window/PluginWindowBase.cpp",
           "PluginWindowBase::DrawWindow", "ImVec2(0.0f, leastHeight)", "ImVec2(0.0f, 0.0f)",
           [("plugin_settings_panel_test", "SettingsPanelTest.RepairRowsWrap*")]),
    Mutant("draw the repairs heading before any upload", "Ravento/RepairsSection.cpp", "DrawRepairsSection",
           "    if (shown.rows.empty())\n        return;\n", "",
           [("plugin_settings_panel_test", "*")]),
    Mutant("say nothing of an original left in the backup folder", "Ravento/ReplayReplacement.cpp",
           "BackUpThenReplaceEarlierRepair", "ReplyStep::PlaceRepairedOriginalInBackup", "ReplyStep::PlaceRepaired",
           [("pipeline_replay_files_test", "RepairFailures.MoveFailures*")]),
]


def run(command, **kwargs):
    return subprocess.run(command, cwd=kwargs.pop("cwd", ROOT), **kwargs)


def copy_tree():
    """The working tree as it is (tracked and untracked files, not ignored ones) into SOURCE."""
    listed = run(["git", "ls-files", "-co", "--exclude-standard", "-z"], capture_output=True, check=True).stdout
    wanted = set()
    for name in listed.decode().split("\0"):
        if not name or not os.path.isfile(os.path.join(ROOT, name)):
            continue
        wanted.add(name)
        target = os.path.join(SOURCE, name)
        source = os.path.join(ROOT, name)
        # Unchanged files keep their time, so the incremental build stays incremental.
        if os.path.exists(target) and open(target, "rb").read() == open(source, "rb").read():
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
    for folder, _, files in os.walk(SOURCE):
        for file in files:
            relative = os.path.relpath(os.path.join(folder, file), SOURCE)
            if relative not in wanted:
                os.remove(os.path.join(folder, file))


def programs_of(mutants):
    names = []
    for mutant in mutants:
        for program, _ in mutant.tests:
            if program not in names:
                names.append(program)
    return names


def build(programs):
    return run(["cmake", "--build", BUILD, "--target", *programs, "--", "-j", str(os.cpu_count() or 2)],
               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).returncode == 0


def first_failing(tests):
    """The first (program, filter) that fails, or None when all pass."""
    # A mutant may crash a test before it cleans up: its temporary files go to a folder of the
    # mutants' own, emptied after every program.
    scratch_tmp = os.path.join(SCRATCH, "tmp")
    try:
        for program, pattern in tests:
            os.makedirs(scratch_tmp, exist_ok=True)
            result = run([os.path.join(BUILD, "bin", program), "--gtest_filter=" + pattern], cwd=SCRATCH,
                         env=dict(os.environ, TMPDIR=scratch_tmp), stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, timeout=600)
            shutil.rmtree(scratch_tmp, ignore_errors=True)
            # 77: every test that ran skipped itself, which kills nothing.
            if result.returncode not in (0, 77):
                return f"{program} {pattern}"
        return None
    finally:
        shutil.rmtree(scratch_tmp, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", action="append", help="run only the mutant of this name")
    args = parser.parse_args()
    mutants = [m for m in MUTANTS if not args.only or m.name in args.only]
    started = time.monotonic()

    os.makedirs(SOURCE, exist_ok=True)
    copy_tree()
    # No optimisation and no debug information: each mutant recompiles one file and relinks a few
    # programs, and both are quickest so.
    configured = run(["cmake", "-S", SOURCE, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=None",
                      "-DCMAKE_CXX_FLAGS=-O0 -g0", "-DRAVENTO_NETWORK=ON", "-DRAVENTO_DEVHOST_GUI=OFF",
                      "-DRAVENTO_WARNINGS_AS_ERRORS=OFF"], stdout=subprocess.DEVNULL)
    programs = programs_of(mutants)
    if configured.returncode != 0 or not build(programs):
        print("mutants: the unchanged tree does not build", file=sys.stderr)
        return 1
    # Each program and filter once, though several mutants name it.
    unchanged = first_failing(list(dict.fromkeys(test for m in mutants for test in m.tests)))
    if unchanged:
        print(f"mutants: the unchanged tree fails {unchanged}; no mutant can be judged", file=sys.stderr)
        return 1

    rows, survivors = [], 0
    for mutant in mutants:
        path = os.path.join(SOURCE, mutant.path)
        original = open(path).read()
        text, why_not = mutated(mutant, original)
        if why_not:
            rows.append((mutant.name, why_not))
            survivors += 1
            continue
        with open(path, "w") as file:
            file.write(text)
        try:
            if not build(programs_of([mutant])):
                verdict = "DOES NOT BUILD (tests nothing)"
                survivors += 1
            else:
                killer = first_failing(mutant.tests)
                verdict = killer or "SURVIVED"
                survivors += killer is None
        finally:
            with open(path, "w") as file:
                file.write(original)
        rows.append((mutant.name, verdict))

    width = max(len(name) for name, _ in rows)
    print(f"{'mutant'.ljust(width)}  killed by")
    for name, verdict in rows:
        print(f"{name.ljust(width)}  {verdict}")
    killed = len(rows) - survivors
    print(f"mutants: {killed} of {len(rows)} killed in {time.monotonic() - started:.0f} s")
    return 0 if survivors == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
