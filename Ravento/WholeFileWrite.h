// Writing a new file whole and flushed, or not at all: a file under its final name is always
// complete on disk, and a failed write leaves nothing behind.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace plugin {

struct WholeFileWrite {
    enum class Step { Done, Create, Write, Close, Rename };
    Step failedAt = Step::Done;
    std::error_code error; // Windows error numbers, as platform/ReplayFiles.h describes
};

// Creates writing (which must not exist), writes bytes into it, checking every write, flushes
// and closes it, then renames it to whole in the same folder. On failure nothing is left under
// either name.
WholeFileWrite WriteWholeFile(const std::filesystem::path& writing, const std::filesystem::path& whole,
                              std::string_view bytes);

} // namespace plugin
