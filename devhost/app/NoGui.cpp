// Builds without the desktop window (Windows, or RAVENTO_DEVHOST_GUI=OFF): devhost runs headless only.
#include "GuiBackend.h"

devhost::UiBackendFactory MakeGuiBackendFactory(GuiSession&, const std::filesystem::path&, std::string& error)
{
    error = "--gui: this build of devhost has no desktop window; the dev preset's has one (cmake --preset dev, "
            "then build/dev/bin/devhost --gui; Linux only)";
    return {};
}
