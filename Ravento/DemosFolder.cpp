// Settles the replays folder once per load: the saved console variable, else a search of
// Documents/My Games/Pellacor/TAGame for "Demos", then "DemosEpic".
#include "Ravento.h"

#include <fmt/core.h>

#include "CallbackBoundary.h"
#include "FileSystem.h"
#include "ModuleConsole.h"
#include "ReplayReplacement.h"
#include "platform/CodePage.h"
#include "platform/DocumentsFolder.h"

using namespace plugin;

namespace {

constexpr char kRoutine[] = "InitDemosFolder";

// Nothing found: open the settings window so the user can enter the folder.
void AskUserForFolder(Ravento& plugin)
{
    if (plugin.ClaimWindowOpening())
        plugin.cvarManager->executeCommand(plugin.ToggleMenuCommand(), false);
    plugin.cvarManager->executeCommand("writeconfig", true);
}

constexpr const char* kCandidates[] = {"Demos", "DemosEpic"};

// A failed creation is logged and the search goes on, so the user still gets the window.
void MakeBackupFolder(const std::filesystem::path& gameFolder)
{
    const std::filesystem::path backupFolder = BackupFolderBeside(gameFolder / kCandidates[0]);
    if (std::error_code error = EnsureBackupFolder(backupFolder))
        moduleConsole->log(
            fmt::format("Could not create backup directory {}: {}", LogText(backupFolder), error.message()));
}

// Only a directory (or a link to one) counts: a file of that name would fail every replay.
// found stays empty when none is there. A query that fails other than with "not found" ends the
// search: it is logged, and false returned.
bool FindReplaysFolder(const std::filesystem::path& gameFolder, std::filesystem::path& found)
{
    for (const char* name : kCandidates) {
        std::filesystem::path candidate = gameFolder / name;
        bool isDirectory = false;
        if (std::error_code error = IsDirectory(candidate, isDirectory)) {
            LogFailedStep(kRoutine, "exists", error, candidate);
            return false;
        }
        if (isDirectory) {
            found = std::move(candidate);
            return true;
        }
    }
    return true;
}

} // namespace

void Ravento::InitDemosFolder()
{
    CVarWrapper variable = cvarManager->getCvar(kDemosFolderVariable);
    if (!variable)
        return;

    // A configured folder is trusted as it stands, even one that does not exist (yet).
    const std::string configured = variable.getStringValue();
    if (!configured.empty()) {
        std::filesystem::path configuredFolder;
        if (std::error_code error = platform::PathFromCodePageText(configured, configuredFolder))
            return LogFailedStep(kRoutine, "code page conversion", error);
        demosFolder.Set(configuredFolder);
        return;
    }

    std::filesystem::path documents;
    if (std::error_code documentsError = platform::DocumentsFolder(documents)) {
        AskUserForFolder(*this);
        return;
    }
    const std::filesystem::path gameFolder = documents / "My Games" / "Pellacor" / "TAGame";
    MakeBackupFolder(gameFolder);

    std::filesystem::path found;
    if (!FindReplaysFolder(gameFolder, found))
        return;
    if (found.empty()) {
        AskUserForFolder(*this);
        return;
    }
    demosFolder.Set(found);
    std::string foundText;
    if (std::error_code error = platform::CodePageTextFromPath(found, foundText))
        return LogFailedStep(kRoutine, "code page conversion", error, found);
    variable.setValue(foundText);
    moduleConsole->log(fmt::format("Found Demos folder at {}", foundText));
}
