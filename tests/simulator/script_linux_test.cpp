#include "script.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace olvex::simulator {
namespace {

using namespace std::chrono_literals;

Command parsed(std::string_view line) {
    auto command = parse_script_line(line);
    EXPECT_TRUE(command.has_value() && command->has_value()) << line;
    return command && *command ? **command : Command{Quit{}};
}

TEST(ParseScriptLine, ReadsEachCommand) {
    EXPECT_EQ(parsed("wait-for now_playing"), Command{(WaitFor{"now_playing", ""})});
    EXPECT_EQ(parsed("  wait-for now_playing   First Light "), Command{(WaitFor{"now_playing", "First Light"})});
    EXPECT_EQ(parsed(R"(send {"event":"play_pause"})"), Command{SendLine{R"({"event":"play_pause"})"}});
    EXPECT_EQ(parsed(R"(send ["seek", 7])"), Command{SendLine{R"(["seek", 7])"}});
    EXPECT_EQ(parsed("send-raw {oops"), Command{SendLine{"{oops"}});
    EXPECT_EQ(parsed("key left"), Command{PressKey{{Action::seek_back}}});
    EXPECT_EQ(parsed("sleep 1.5"), Command{Sleep{1.5}});
    EXPECT_EQ(parsed("timeout 30"), Command{SetTimeout{30.0}});
    EXPECT_EQ(parsed("quit\r"), Command{Quit{}});
    for (const char* nothing : {"", "   ", "# a comment"}) {
        const auto command = parse_script_line(nothing);
        ASSERT_TRUE(command.has_value());
        EXPECT_FALSE(command->has_value()) << nothing;
    }
}

TEST(ParseScriptLine, RefusesWhatCannotBeCarriedOut) {
    for (const char* line : {"wait-for", "wait-for play_pause", R"(send {"type":"play_pause"})", "send",
                             R"(send {"event":"seek"})", "key F1", "sleep", "sleep -1", "sleep 1s", "timeout x",
                             "quit now", "jump"}) {
        EXPECT_FALSE(parse_script_line(line).has_value()) << line;
    }
}

TEST(ScriptRunner, EachMessageSatisfiesOneWaitInOrder) {
    const auto start = Clock::time_point{} + 1h;
    ScriptRunner runner;
    runner.add(WaitFor{"now_playing", ""});
    runner.add(WaitFor{"now_playing", "Second"});
    runner.add(WaitFor{"art", ""});
    runner.add(SendLine{"{\"event\":\"next\"}"});
    runner.finish_input();
    runner.message_received("art", "{...}");
    runner.message_received("now_playing", R"({"title":"First"})");
    ASSERT_TRUE(std::holds_alternative<ScriptWait>(runner.next(start)));
    // The art before the first track does not count for the wait after it.
    runner.message_received("now_playing", R"({"title":"Second"})");
    ASSERT_TRUE(std::holds_alternative<ScriptWait>(runner.next(start + 1s)));
    runner.message_received("art", "{...}");
    EXPECT_EQ(runner.next(start + 2s), ScriptStep{SendLine{"{\"event\":\"next\"}"}});
    EXPECT_EQ(runner.next(start + 2s), ScriptStep{ScriptEnd{}});
}

TEST(ScriptRunner, AWaitEndsTheRunWhenItsTimeRunsOut) {
    const auto start = Clock::time_point{} + 1h;
    ScriptRunner runner;
    runner.add(SetTimeout{2.0});
    runner.add(WaitFor{"lock", ""});
    const auto waiting = runner.next(start);
    ASSERT_TRUE(std::holds_alternative<ScriptWait>(waiting));
    EXPECT_EQ(std::get<ScriptWait>(waiting).until, start + 2s);
    const auto ended = runner.next(start + 2s);
    ASSERT_TRUE(std::holds_alternative<ScriptEnd>(ended));
    EXPECT_EQ(std::get<ScriptEnd>(ended).status, 1);
    EXPECT_NE(std::get<ScriptEnd>(ended).reason.find("lock"), std::string::npos);
}

TEST(ScriptRunner, SleepsAndWaitsForMoreInputUntilItEnds) {
    const auto start = Clock::time_point{} + 1h;
    ScriptRunner runner;
    runner.add(Sleep{0.5});
    EXPECT_EQ(std::get<ScriptWait>(runner.next(start)).until, start + 500ms);
    // Script text may still come: wait without a deadline.
    EXPECT_EQ(std::get<ScriptWait>(runner.next(start + 500ms)).until, std::nullopt);
    runner.add(PressKey{{Action::next}});
    runner.add(Quit{});
    runner.add(PressKey{{Action::previous}});
    EXPECT_EQ(runner.next(start + 1s), ScriptStep{PressKey{{Action::next}}});
    EXPECT_EQ(runner.next(start + 1s), ScriptStep{ScriptEnd{}});
}

}  // namespace
}  // namespace olvex::simulator
