// The stand-in host with the plugin linked in, loaded the way the pipeline tests load it, and the
// few things the benchmarks need from the host: timed work on its game thread, requests that
// wait until the benchmark answers them, and reference widgets drawn in its UI frames.
// Every use of the host's own interface lives here and in BenchHost.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Ravento.h"

namespace devhost {
class Host;
}

class HeldTransport;
class ReferenceUiBackend;

class BenchHost {
public:
    BenchHost();
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    Ravento& Plugin();

    // A host-owned replay object, as the game's play event carries it.
    std::uintptr_t CreateReplay(const std::string& id, const std::string& date);
    // Runs work count times on the host's game thread, inside one game event whose parameter
    // block starts with replay, and returns the seconds the count runs took there.
    double TimeOnGameThread(std::uintptr_t replay, int count, const std::function<void(void* params)>& work);
    // Answers every request sent so far with a server error and waits until the replies ran.
    void AnswerRequests();

    // --- UI ---------------------------------------------------------------------------------
    void SetPluginWindowOpen(bool open);
    // Drawn with Dear ImGui in every host frame, before the plugin's window; null draws nothing.
    void SetReferenceWidgets(std::function<void()> widgets);
    // Seconds for count host frames (new frame, windows, render).
    double TimeFrames(int count);
    // The plugin window's text as one frame draws it.
    std::string PluginWindowText();
    bool Click(const std::string& label);

private:
    HeldTransport* transport = nullptr;
    ReferenceUiBackend* backend = nullptr;
    std::unique_ptr<devhost::Host> host;
    // Set before each timed game event; read by its hook on the game thread.
    const std::function<void(void*)>* batchWork = nullptr;
    int batchCount = 0;
    double batchSeconds = 0.0;
};

// The process's one host (the host allows one live at a time), made on first use.
BenchHost& SharedBenchHost();
