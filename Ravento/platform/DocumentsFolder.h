// The user's Documents folder, the root of the replays-folder search.
#pragma once

#include <filesystem>
#include <system_error>

namespace platform {

// Windows: the shell's known folder FOLDERID_Documents; fails with the shell's result code.
// POSIX: XDG_DOCUMENTS_DIR from user-dirs.dirs (under XDG_CONFIG_HOME, else ~/.config), else
// $HOME/Documents; fails with std::errc::no_such_file_or_directory when neither can be had.
// The folder itself need not exist.
std::error_code DocumentsFolder(std::filesystem::path& folder);

} // namespace platform
