#include "DevhostOptions.h"

void AddDevhostOptions(CLI::App& app, DevhostOptions& options)
{
    app.add_option("--plugin", options.plugin, "Plugin module to load (default: " RAVENTO_MODULE_FILE_NAME
                                               " beside devhost)");
    app.add_option("--config", options.config, "Host configuration file: console variables saved by writeconfig");
    app.add_option("--script", options.script, "Script of commands, one a line (default: standard input)");
    app.add_option("--connect-to", options.network.connectTo,
                   "HOST:PORT:ADDR:PORT: send requests for HOST:PORT to ADDR:PORT (curl's CONNECT_TO)");
    app.add_option("--cacert", options.network.caFile, "Trust the certificates in this PEM file (curl's CAINFO)")
        ->check(CLI::ExistingFile);
    auto* gui = app.add_flag("--gui", options.gui,
                             "Show the UI in a desktop window with the host console; runs --script (not standard "
                             "input), then until the window is closed unless the script quits");
    app.add_option("--ui-settings", options.uiSettings,
                   "With --gui: Dear ImGui window settings (imgui.ini format) where windows are and how large, "
                   "as a host remembers them; read at start when the file exists, saved at exit")
        ->needs(gui);
}
