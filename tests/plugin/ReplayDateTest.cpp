// The replay-date reader against sscanf, whose reading it replaces: every text, however
// malformed, must give the fields sscanf(text, "%4d-%2d-%2d") gives.
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ReplayDate.h"

namespace {

plugin::ReplayDate ReadWithScanf(const std::string& text)
{
    plugin::ReplayDate date;
    std::sscanf(text.c_str(), "%4d-%2d-%2d", &date.year, &date.month, &date.day);
    return date;
}

void ExpectSameAsScanf(const std::string& text)
{
    plugin::ReplayDate expected = ReadWithScanf(text);
    plugin::ReplayDate read = plugin::ReadReplayDate(text);
    EXPECT_EQ(read.year, expected.year) << '"' << text << '"';
    EXPECT_EQ(read.month, expected.month) << '"' << text << '"';
    EXPECT_EQ(read.day, expected.day) << '"' << text << '"';
}

} // namespace

TEST(ReplayDate, ReadsEveryTextAsScanfDoes)
{
    for (const char* text : {"2025-06-01 12:00", "2025-5-1", "20250601", "2025-06", "", " 2025 - 06-01", "+2025-+6--1",
                             "-025-06-01", "2025-\t6-\n7", "2025-0006-01", "+-2025", "2025-06-0x", "99999-1-1"})
        ExpectSameAsScanf(text);
    ExpectSameAsScanf(std::string("2025-0\0006-01", 10));

    // Random texts over the characters the reader treats differently, short enough that every
    // kind of field boundary comes up many times.
    const std::string alphabet = std::string("0123456789--++ \t\nx", 18) + '\0';
    std::mt19937 random(20251207);
    for (int round = 0; round < 200000; ++round) {
        std::string text(random() % 14, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        ExpectSameAsScanf(text);
        if (HasFailure())
            break;
    }
}
