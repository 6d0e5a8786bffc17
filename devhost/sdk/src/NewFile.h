// A file created only where no file is: a write that goes beside a file and is renamed over it
// must not open something planted under that name (a FIFO would stall the writer for good, a
// symbolic link would redirect the write to its target).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace devhost {

// Creates file, which must not exist in any form (nothing is followed), writes content into it
// and closes it. std::errc::file_exists when the name is taken; on any other error the
// half-written file is removed again.
std::error_code WriteNewFile(const std::filesystem::path& file, const std::string& content);

} // namespace devhost
