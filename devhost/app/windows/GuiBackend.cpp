// This build has no GLFW, so devhost has no desktop window; it runs headless only.
#include "GuiBackend.h"

orvane::host::UiBackendFactory MakeGuiBackendFactory(GuiSession&, const std::filesystem::path&, std::string& error)
{
    error = "--gui: this build of devhost has no desktop window; run the Linux build";
    return {};
}
