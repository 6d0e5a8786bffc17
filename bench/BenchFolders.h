// Temporary folders the benchmarks work in: under $TMPDIR (scripts/bench.sh points it at the
// build tree, a real disk), made once per run and removed at exit.
#pragma once

#include <filesystem>
#include <string>

// A fresh, empty folder of that name inside the run's temporary folder.
std::filesystem::path BenchFolder(const std::string& name);

// A replays folder of count entries (empty files with replay-like names), made on first use.
const std::filesystem::path& ReplaysFolderOf(int count);
// The name of one entry of every such folder, and an identifier whose file none of them holds.
std::string PresentReplayId();
std::string AbsentReplayId();
