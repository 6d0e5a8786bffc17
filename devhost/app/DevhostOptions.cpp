#include "DevhostOptions.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "NearestName.h"

namespace {

// The four fields of HOST:PORT:ADDR:PORT; an address in brackets may hold colons (IPv6).
std::vector<std::string_view> ConnectToFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    bool bracketed = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[')
            bracketed = true;
        else if (text[i] == ']')
            bracketed = false;
        else if (text[i] == ':' && !bracketed) {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    fields.push_back(text.substr(start));
    return fields;
}

bool IsPort(std::string_view text)
{
    unsigned port = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && port >= 1 && port <= 65535;
}

// Checked at start, so a mistyped value fails at once instead of as a request that goes astray.
std::string CheckConnectTo(std::string& value)
{
    auto fields = ConnectToFields(value);
    if (fields.size() == 4 && !fields[0].empty() && IsPort(fields[1]) && !fields[2].empty() && IsPort(fields[3]))
        return {};
    return "expected HOST:PORT:ADDR:PORT with ports from 1 to 65535, e.g. repair.ravento.test:443:127.0.0.1:8443";
}

// " (did you mean '--script'?)" for the first unexpected argument that is near an option's name.
std::string NearestOptionHint(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
    const std::vector<std::string_view> candidates(names.begin(), names.end());
    for (const std::string& argument : app.remaining()) {
        if (argument.rfind("--", 0) != 0)
            continue;
        const std::string nearest = NearestName(argument.substr(0, argument.find('=')), candidates);
        if (!nearest.empty())
            return fmt::format(" (did you mean '{}'?)", nearest);
    }
    return {};
}

} // namespace

std::optional<int> ParseDevhostOptions(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::Success& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        fmt::print(stderr, "devhost: {}{}\ndevhost: see devhost --help for the options and script commands\n",
                   error.what(), NearestOptionHint(app));
        std::fflush(stderr);
        return kUsageExitStatus;
    }
}

void AddDevhostOptions(CLI::App& app, DevhostOptions& options)
{
    app.add_option("--plugin", options.plugin,
                   "Plugin module to load (default: " RAVENTO_MODULE_FILE_NAME " beside devhost)");
    app.add_option("--config", options.config, "Host configuration file: console variables saved by writeconfig");
    app.add_option("--script", options.script,
                   "Script of commands, one a line (default: standard input); read and checked whole before "
                   "any line runs");
    app.add_option("--connect-to", options.network.connectTo,
                   "HOST:PORT:ADDR:PORT: send requests for HOST:PORT to ADDR:PORT (curl's CONNECT_TO)")
        ->check(CLI::Validator(&CheckConnectTo, "HOST:PORT:ADDR:PORT"));
    app.add_option("--cacert", options.network.caFile, "Trust the certificates in this PEM file (curl's CAINFO)")
        ->check(CLI::ExistingFile);
    auto* gui = app.add_flag("--gui", options.gui,
                             "Show the UI in a desktop window with the host console; runs --script (not standard "
                             "input), then until the window is closed unless the script quits");
    app.add_option("--ui-settings", options.uiSettings,
                   "With --gui: Dear ImGui window settings (imgui.ini format) where windows are and how large, "
                   "as a host remembers them; read at start when the file exists, saved at exit")
        ->needs(gui);
    app.footer("Script commands, one a line (\"#\" starts a comment; double quotes keep blanks or an empty value).\n"
               "Each command's queued game work has run before the next command starts.\n"
               "  wait SECONDS       advance the clock (0 to 86400 s); due timers and game work run\n"
               "  play ID DATE       play a replay with this identifier and date; play-null plays none.\n"
               "                     When it sends no upload, devhost says why on standard error\n"
               "  settle             wait until every upload is answered and its reply handled, and the\n"
               "                     game work and console commands that queued have run; after 30 s\n"
               "                     without that the script stops and devhost exits with status 1\n"
               "  frame [N]          run N UI frames (default 1)\n"
               "  console COMMAND    run a console command, e.g. console togglemenu Ravento\n"
               "  show               print the open window's contents: an entry as { text }, a hint shown in\n"
               "                     an empty entry as { (hint) text }, a button as [ label ]\n"
               "  type TEXT          type into the window's text entry\n"
               "  clear              empty the window's text entry (select all, delete)\n"
               "  click LABEL        press the window's button with that label\n"
               "  cvar NAME          print a console variable as NAME = VALUE\n"
               "  screenshot FILE    save the frame as PNG (with --gui; add \"window\" for the plugin's window)\n"
               "  quit               stop\n"
               "A window opened since the last frame is drawn before show, type, clear or click act on it.\n"
               "Output: the plugin's log lines on standard output as logged; the results of show and cvar\n"
               "there too, each line after \"= \"; everything else devhost says on standard error.");
}
