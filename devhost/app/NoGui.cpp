// Builds without the desktop window (Windows, or RAVENTO_DEVHOST_GUI=OFF): devhost runs headless only.
#include "GuiBackend.h"

devhost::UiBackendFactory MakeGuiBackendFactory(GuiSession&, const std::filesystem::path&, std::string& error)
{
    error = "--gui: this build of devhost has no desktop window; build with RAVENTO_DEVHOST_GUI on Linux";
    return {};
}
