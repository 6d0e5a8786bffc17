// Writing a file all or nothing, so that a failed write never leaves a short file behind.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

struct WholeFileWrite {
    enum class Step { Done, Create, Write, Close, Rename };
    Step failedAt = Step::Done;
    std::error_code error;  // Windows error numbers, as platform/ReplayFiles.h describes
};

// Writes bytes into a new temporary file beside target, checking every write and the close,
// then renames it over target (replacing a file of that name). On failure the temporary file
// is removed again and whatever was at target is left as it was.
WholeFileWrite WriteWholeFile(const std::filesystem::path& target, std::string_view bytes);
