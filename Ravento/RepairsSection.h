// "Repairs this session": the settings window's list of this plugin object's uploads, below the
// panel's own rows.
#pragma once

#include <chrono>
#include <cstddef>

#include "RepairHistory.h"

namespace plugin {

// Draws the section from shown, refreshed from history only when it changed; draws nothing while
// no upload was sent. UI thread only.
void DrawRepairsSection(const RepairHistory& history, RepairSnapshot& shown);

// "12 s ago", "3 min ago", "2 h ago", written into buffer without allocating.
void FormatAge(std::chrono::steady_clock::duration age, char* buffer, std::size_t size);

} // namespace plugin
