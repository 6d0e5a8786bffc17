// The configuration file's line format.
#include <gtest/gtest.h>

#include "ConfigFile.h"

using devhost::FormatConfigLine;
using devhost::ParseConfigLine;

TEST(ConfigFileTest, EveryByteOfNameAndValueRoundTrips)
{
    std::string everyByte;
    for (int c = 1; c < 256; ++c)
        everyByte += static_cast<char>(c);
    for (const std::string& value : {std::string(), std::string("plain"), everyByte, std::string("a\\nb")}) {
        for (const std::string& name : {std::string("Ravento_DemosFolder"), std::string("with blank"), everyByte}) {
            std::string line = FormatConfigLine(name, value);
            EXPECT_EQ(line.find('\n'), std::string::npos);
            auto parsed = ParseConfigLine(line);
            ASSERT_TRUE(parsed) << line;
            EXPECT_EQ(parsed->first, name);
            EXPECT_EQ(parsed->second, value);
        }
    }
}

TEST(ConfigFileTest, MalformedLinesAreRejected)
{
    for (const char* line : {"", "name", "name value", "name \"unclosed", "name \"bad \\q escape\"",
                             "name \"half \\x4\"", "name \"a\" trailing", "\"\" \"empty name\""})
        EXPECT_FALSE(ParseConfigLine(line)) << line;
    auto windowsLine = ParseConfigLine("name \"value\"\r");
    ASSERT_TRUE(windowsLine);
    EXPECT_EQ(windowsLine->second, "value");
}
