// The settings window's contents: the rate-limit notice, or the replays-folder entry with its
// "Check" button; below them the repairs of this session.
#include "Ravento.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include "CallbackBoundary.h"
#include "FileSystem.h"
#include "RepairsSection.h"
#include "platform/CodePage.h"

using namespace plugin;

namespace {

constexpr char kCheck[] = "Check";

// Stores a typed folder that names a directory and defers closing the window and saving the
// configuration to the game side. Returns whether the folder passed; a query or conversion that
// failed is logged, and fails the check.
bool CheckFolder(Ravento& plugin, const std::string& typed)
{
    // Dear ImGui hands over typed text as UTF-8 it encoded itself, which always converts; the
    // variable keeps filesystem code page text.
    std::filesystem::path folder;
    if (platform::PathFromUtf8(typed, folder) || folder.empty())
        return false;
    // Made absolute and its "." and ".." folded, as Windows resolves a path, so that the backup
    // folder beside it is the parent of the folder typed and a later working folder changes
    // nothing.
    folder = std::filesystem::absolute(folder).lexically_normal();
    bool isDirectory = false;
    if (std::error_code error = IsDirectory(folder, isDirectory)) {
        LogFailedStep(kCheck, "exists", error, folder);
        return false;
    }
    if (!isDirectory)
        return false;
    std::string variableText;
    if (std::error_code error = platform::CodePageTextFromPath(folder, variableText)) {
        LogFailedStep(kCheck, "code page conversion", error, folder);
        return false;
    }

    plugin.demosFolder.Set(folder);
    plugin.cvarManager->getCvar(kDemosFolderVariable).setValue(variableText);

    Ravento* pluginPointer = &plugin;
    plugin.gameWrapper->Execute([pluginPointer](GameWrapper*) {
        ContainErrors(kCheck, [pluginPointer] {
            pluginPointer->cvarManager->executeCommand(pluginPointer->ToggleMenuCommand(), false);
            pluginPointer->cvarManager->executeCommand("writeconfig", true);
        });
    });
    return true;
}

// The entry, its warning and "Check", which checks the typed folder when pressed.
void DrawFolderEntry(Ravento& plugin, std::string& folderInput, bool& folderInvalid)
{
    ImGui::Text("Enter the path to your demos folder...");
    if (folderInvalid)
        ImGui::Text("Please input a VALID directory to your Replays Folder");
    ImGui::InputTextWithHint("##DemosFolderPath", "Replay Folder Path...", &folderInput);
    if (!ImGui::Button("Check"))
        return;

    // An error that ends the check (out of memory) fails it too.
    bool passed = false;
    ContainErrors(kCheck, [&] { passed = CheckFolder(plugin, folderInput); });
    folderInvalid = !passed;
}

} // namespace

void Ravento::RenderWindow()
{
    // Module-lifetime panel state: it survives closing the window and a new plugin object.
    static std::string folderInput;
    static bool folderInvalid = false;

    if (rateLimitHit)
        ImGui::Text("Rate Limit Hit (10 every 30 minutes)");
    else
        DrawFolderEntry(*this, folderInput, folderInvalid);
    // Also under the notice: it tells which replays the limit refused.
    DrawRepairsSection(repairs, shownRepairs);
}
