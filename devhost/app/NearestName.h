// "did you mean": the name a typo most likely meant, for script commands, typed console lines
// and command-line options alike.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The candidate nearest to name, ignoring case, within two edits (an adjacent swap counts as
// one) and closer than name is long; empty when none is.
std::string NearestName(std::string_view name, const std::vector<std::string_view>& candidates);
