// Makes a temporary folder the user's Documents folder for the plugin, and undoes it after.
// POSIX: HOME points at the sandbox and XDG_CONFIG_HOME is cleared. Windows: the shell's
// known-folder call is replaced by a double that answers with the sandbox.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"

namespace testing_support {

class DocumentsSandbox {
public:
    enum class Documents { Available, Unavailable };

    explicit DocumentsSandbox(Documents documents = Documents::Available);
    ~DocumentsSandbox();
    DocumentsSandbox(const DocumentsSandbox&) = delete;
    DocumentsSandbox& operator=(const DocumentsSandbox&) = delete;

    const std::filesystem::path& Home() const { return home.Path(); }
    std::filesystem::path DocumentsFolder() const { return home.Path() / "Documents"; }
    // Documents/My Games/Pellacor/TAGame (not created).
    std::filesystem::path GameFolder() const;

    const TempDir& Dir() const { return home; }

#if defined(_WIN32)
    // Buffers the known-folder double handed out minus those released; 0 when balanced.
    static int OutstandingShellBuffers();
#endif

private:
    TempDir home;
    std::optional<std::string> savedHome;
    std::optional<std::string> savedConfigHome;
};

} // namespace testing_support
