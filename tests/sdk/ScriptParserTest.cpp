// The development host's script lines.
#include <gtest/gtest.h>

#include "ScriptParser.h"

namespace {

ScriptCommand Parse(std::string_view line)
{
    ParsedLine parsed = ParseScriptLine(line);
    EXPECT_EQ(parsed.error, "") << line;
    EXPECT_TRUE(parsed.command) << line;
    return parsed.command.value_or(ScriptCommand{});
}

std::string ErrorOf(std::string_view line)
{
    ParsedLine parsed = ParseScriptLine(line);
    EXPECT_FALSE(parsed.command) << line;
    return parsed.error;
}

} // namespace

TEST(ScriptParserTest, CommandsWithTheirArguments)
{
    EXPECT_DOUBLE_EQ(Parse("wait 1.5").seconds, 1.5);
    EXPECT_DOUBLE_EQ(Parse("  wait\t0  ").seconds, 0.0);
    EXPECT_DOUBLE_EQ(Parse("wait 86400").seconds, 86400.0); // a day is the longest wait

    ScriptCommand play = Parse("play \"Replay One\" \"\"");
    EXPECT_EQ(play.verb, ScriptVerb::Play);
    EXPECT_EQ(play.text, "Replay One");
    EXPECT_EQ(play.date, "");
    play = Parse("play ABC 2024-01-01");
    EXPECT_EQ(play.text, "ABC");
    EXPECT_EQ(play.date, "2024-01-01");

    EXPECT_EQ(Parse("frame").frames, 1);
    EXPECT_EQ(Parse("frame 12").frames, 12);
    EXPECT_EQ(Parse("play-null").verb, ScriptVerb::PlayNull);
    EXPECT_EQ(Parse("settle").verb, ScriptVerb::Settle);
    EXPECT_EQ(Parse("show").verb, ScriptVerb::Show);
    EXPECT_EQ(Parse("clear").verb, ScriptVerb::Clear);
    EXPECT_EQ(Parse("quit\r").verb, ScriptVerb::Quit);
    EXPECT_EQ(Parse("cvar Ravento_DemosFolder").text, "Ravento_DemosFolder");
}

TEST(ScriptParserTest, RestOfLineTextsKeepBlanksBackslashesAndQuotes)
{
    ScriptCommand console = Parse("console togglemenu  Ravento");
    EXPECT_EQ(console.verb, ScriptVerb::Console);
    EXPECT_EQ(console.text, "togglemenu  Ravento");
    EXPECT_EQ(Parse("type C:\\Users\\me\\Demos").text, "C:\\Users\\me\\Demos");
    EXPECT_EQ(Parse("type \"  padded  \"").text, "  padded  ");
    EXPECT_EQ(Parse("type \"\"").text, "");
    EXPECT_EQ(Parse("type say \"hi\" twice").text, "say \"hi\" twice");
    EXPECT_EQ(Parse("click Check").text, "Check");
    EXPECT_EQ(Parse("click \"Check Folder\"").text, "Check Folder");
}

TEST(ScriptParserTest, BlankAndCommentLinesAreNoCommands)
{
    for (std::string_view line : {"", "   ", "\r", "# a comment", "   # indented comment"}) {
        ParsedLine parsed = ParseScriptLine(line);
        EXPECT_FALSE(parsed.command) << line;
        EXPECT_EQ(parsed.error, "") << line;
    }
}

TEST(ScriptParserTest, MalformedLinesSayWhatIsWrong)
{
    EXPECT_EQ(ErrorOf("jump 3"), "unknown command 'jump'");
    // Near misses name the verb: a wrong letter, a swap, a missing or extra letter, the case.
    EXPECT_EQ(ErrorOf("Wait 1"), "unknown command 'Wait' (did you mean 'wait'?)");
    EXPECT_EQ(ErrorOf("pley A 2025-06-14"), "unknown command 'pley' (did you mean 'play'?)");
    EXPECT_EQ(ErrorOf("setlte"), "unknown command 'setlte' (did you mean 'settle'?)");
    EXPECT_EQ(ErrorOf("scrensho a.png"), "unknown command 'scrensho' (did you mean 'screenshot'?)");
    EXPECT_EQ(ErrorOf("consoles writeconfig"), "unknown command 'consoles' (did you mean 'console'?)");
    EXPECT_EQ(ErrorOf("xy"), "unknown command 'xy'") << "two edits away from everything short is no hint";
    EXPECT_NE(ErrorOf("wait").find("usage"), std::string::npos);
    EXPECT_NE(ErrorOf("wait soon").find("not a number"), std::string::npos);
    EXPECT_NE(ErrorOf("wait -1").find("not a number"), std::string::npos);
    EXPECT_NE(ErrorOf("wait inf").find("not a number"), std::string::npos);
    EXPECT_NE(ErrorOf("wait 86400.5").find("from 0 to 86400"), std::string::npos);
    EXPECT_NE(ErrorOf("wait 1e308").find("from 0 to 86400"), std::string::npos);
    EXPECT_NE(ErrorOf("wait 1 2").find("usage"), std::string::npos);
    EXPECT_NE(ErrorOf("play onlyid").find("usage"), std::string::npos);
    EXPECT_NE(ErrorOf("play \"open id 2024").find("quote"), std::string::npos);
    EXPECT_NE(ErrorOf("play \"a\"b c").find("quote"), std::string::npos);
    EXPECT_NE(ErrorOf("frame 0").find("frame count"), std::string::npos);
    EXPECT_NE(ErrorOf("frame many").find("frame count"), std::string::npos);
    EXPECT_NE(ErrorOf("settle now").find("usage"), std::string::npos);
    EXPECT_NE(ErrorOf("clear all").find("usage"), std::string::npos);
    EXPECT_NE(ErrorOf("console").find("missing"), std::string::npos);
    EXPECT_NE(ErrorOf("click").find("missing"), std::string::npos);
    EXPECT_NE(ErrorOf("type").find("missing"), std::string::npos);
    EXPECT_NE(ErrorOf("type \"a\" \"b\"").find("quote"), std::string::npos);
    EXPECT_NE(ErrorOf("cvar").find("usage"), std::string::npos);
}
