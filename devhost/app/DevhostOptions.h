// The development host's command-line options, in one place so new ones are one line each.
#pragma once

#include <filesystem>
#include <optional>

#include <CLI/CLI.hpp>

#include "NetworkTransport.h"

struct DevhostOptions {
    std::filesystem::path plugin; // default: the plugin module beside the devhost executable
    std::filesystem::path config;
    std::filesystem::path script; // empty: standard input
    NetworkOptions network;
    bool gui = false; // a desktop window instead of the headless UI
    std::filesystem::path uiSettings; // --gui: Dear ImGui's window settings, read at start, saved at exit
};

void AddDevhostOptions(CLI::App& app, DevhostOptions& options);

// The exit status of a command line devhost cannot use, as the project's scripts use it.
inline constexpr int kUsageExitStatus = 2;

// Parses the command line. Returns the status to exit with when devhost stops here: 0 after
// --help, kUsageExitStatus for a usage error, said on standard error with the option a mistyped
// one most likely meant.
std::optional<int> ParseDevhostOptions(CLI::App& app, int argc, char** argv);
