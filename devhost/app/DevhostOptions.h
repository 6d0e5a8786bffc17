// The development host's command-line options, in one place so new ones are one line each.
#pragma once

#include <filesystem>

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
