// Writing a new file whole and flushed, or not at all, so that a failed write never leaves a
// short file behind and a file renamed into place afterwards is complete on disk.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

struct WholeFileWrite {
    enum class Step { Done, Create, Write, Close };
    Step failedAt = Step::Done;
    std::error_code error;  // Windows error numbers, as platform/ReplayFiles.h describes
};

// Creates file (which must not exist), writes bytes into it, checking every write, and flushes
// and closes it. On failure the file is removed again.
WholeFileWrite WriteNewFile(const std::filesystem::path& file, std::string_view bytes);
