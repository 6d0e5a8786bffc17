// devhost --gui: a desktop window that shows the host's UI frames, takes the user's mouse and
// keyboard, and shows the host console as a scrolling pane. gui/ holds the GLFW and OpenGL 3
// implementation; a build without it (Windows, or RAVENTO_DEVHOST_GUI=OFF) has NoGui.cpp, which says so.
#pragma once

#include <filesystem>
#include <string>

#include "GuiSession.h"
#include "orvane/host/UiBackend.h"

// The backend factory for HostOptions::uiBackend, or null with `error` set when this build has
// no desktop window. The backend opens its window when the host starts its UI thread, and the
// Host's constructor throws std::runtime_error when it cannot (no display). A non-empty
// uiSettings names Dear ImGui's window settings file: read at start when it exists, saved at exit.
devhost::UiBackendFactory MakeGuiBackendFactory(GuiSession& session, const std::filesystem::path& uiSettings,
                                                std::string& error);
