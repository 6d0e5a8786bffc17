// The configuration file's line format, and what a file must be to be read at all.
#include <gtest/gtest.h>

#include "ConfigFile.h"
#include "support/TempDir.h"

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

TEST(ConfigFileTest, AFileIsReadOnlyWhenItIsARegularFileWithinTheLimits)
{
    testing_support::TempDir dir;
    const devhost::TextLimits limits{100, 20}; // small, so a test file can sit on either side
    auto read = [&](const std::string& name, const std::string& text) {
        return devhost::ReadConfigFile(dir.MakeFile(name, text), limits);
    };
    // At the limits: a line of 20 bytes (its line break not counted) in a file of 100.
    const std::string longest = "name \"" + std::string(13, 'v') + "\"";
    devhost::ConfigReadResult atLimits = read("at.cfg", longest + "\r\n" + std::string(100 - 22, '\n'));
    EXPECT_EQ(atLimits.error, "");
    EXPECT_EQ(atLimits.values["name"], std::string(13, 'v'));

    EXPECT_NE(read("line.cfg", "a \"b\"\n" + longest + "v\n").error.find("line.cfg:2: line longer than 20 bytes"),
              std::string::npos);
    devhost::ConfigReadResult tooLarge = read("large.cfg", std::string(101, '\n'));
    EXPECT_NE(tooLarge.error.find("large.cfg is larger than 100 bytes"), std::string::npos) << tooLarge.error;
    EXPECT_NE(devhost::ReadConfigFile(dir.Path(), limits).error, "") << "a folder read as a file";

    devhost::ConfigReadResult missing = devhost::ReadConfigFile(dir.Path() / "none.cfg", limits);
    EXPECT_EQ(missing.error, "");
    EXPECT_TRUE(missing.values.empty());
}
