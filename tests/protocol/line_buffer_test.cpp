#include "protocol/line_buffer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace olvex::protocol {
namespace {

std::vector<std::string> lines_of(LineBuffer& buffer) {
    std::vector<std::string> lines;
    while (auto line = buffer.take_line()) lines.push_back(*line);
    return lines;
}

// Feeds `input` split at every pair of cut points and checks that the lines
// come out the same however the bytes were chunked.
void expect_same_lines_for_every_split(const std::string& input, const std::vector<std::string>& expected) {
    for (std::size_t first = 0; first <= input.size(); ++first) {
        for (std::size_t second = first; second <= input.size(); ++second) {
            LineBuffer buffer;
            std::vector<std::string> lines;
            for (auto [from, to] : {std::pair{std::size_t{0}, first}, {first, second}, {second, input.size()}}) {
                buffer.append(input.substr(from, to - from));
                for (auto& line : lines_of(buffer)) lines.push_back(line);
            }
            ASSERT_EQ(lines, expected) << "cut at " << first << " and " << second;
        }
    }
}

TEST(LineBuffer, LinesDoNotDependOnHowBytesWereChunked) {
    expect_same_lines_for_every_split("{\"event\":\"next\"}\r\r\n\n{\"a\":1}\r\npartial",
                                      {"{\"event\":\"next\"}", "", "{\"a\":1}"});
}

TEST(LineBuffer, InvalidUtf8BecomesReplacementCharactersAndOnlyTrailingReturnsGo) {
    LineBuffer buffer;
    buffer.append("a\xFF\xC3(b\r\n \rx\r\n");
    EXPECT_EQ(lines_of(buffer), (std::vector<std::string>{"a\xEF\xBF\xBD\xEF\xBF\xBD(b", " \rx"}));
}

TEST(LineBuffer, OverlongGarbageWithoutLineFeedIsDropped) {
    LineBuffer buffer;
    buffer.append(std::string(8192, 'x'));
    EXPECT_EQ(buffer.size(), 8192u) << "exactly the limit is kept";
    buffer.append("y");
    EXPECT_EQ(buffer.size(), 0u) << "one byte more without a line feed drops everything";
    buffer.append("tail\n");
    EXPECT_EQ(lines_of(buffer), std::vector<std::string>{"tail"});
}

TEST(LineBuffer, LongBufferWithALineFeedIsKept) {
    LineBuffer buffer;
    buffer.append("short\n" + std::string(9000, 'x'));
    EXPECT_EQ(lines_of(buffer), std::vector<std::string>{"short"});
    EXPECT_EQ(buffer.size(), 9000u);
    buffer.append("x");
    EXPECT_EQ(buffer.size(), 0u) << "the rule applies again once the line feed is gone";
}

}  // namespace
}  // namespace olvex::protocol
