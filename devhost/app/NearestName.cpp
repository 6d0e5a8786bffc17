#include "NearestName.h"

#include <algorithm>
#include <cctype>

namespace {

// Edit distance (insertions, deletions, substitutions; an adjacent swap counts as one), so a
// typo such as "pley" or "setlte" can name the word that was meant.
std::size_t Distance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t substitution = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, substitution});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::string Lowercase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

} // namespace

std::string NearestName(std::string_view name, const std::vector<std::string_view>& candidates)
{
    constexpr std::size_t kMostEdits = 2;
    std::string_view nearest;
    std::size_t nearestDistance = kMostEdits + 1;
    for (std::string_view candidate : candidates) {
        std::size_t distance = Distance(Lowercase(name), candidate);
        if (distance < nearestDistance) {
            nearest = candidate;
            nearestDistance = distance;
        }
    }
    if (name.size() <= nearestDistance)
        return {};
    return std::string(nearest);
}
