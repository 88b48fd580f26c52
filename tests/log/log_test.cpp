#include "log/log.hpp"

#include <gtest/gtest.h>

#include <source_location>

#include "log/log_platform.hpp"
#include "support/temp_folder.hpp"

namespace olvex {
namespace {

using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::write_file;

TEST(LogEntry, LayoutKeepsTheMessageUnchanged) {
    EXPECT_EQ(format_log_entry(1700000000, "serial: opened COM3"), "[1700000000s] serial: opened COM3\n");
    EXPECT_EQ(format_log_entry(0, "two\nlines\r\n"), "[0s] two\nlines\r\n\n");
    EXPECT_EQ(format_log_entry(18446744073709551615u, ""), "[18446744073709551615s] \n");
}

TEST(FailureEntry, NamesThreadLocationAndOptionalMessage) {
    const auto here = std::source_location::current();
    const std::string location =
        std::string(here.file_name()) + ":" + std::to_string(here.line()) + ":" + std::to_string(here.column());
    EXPECT_EQ(format_failure_entry(5, "unnamed", here, "index out of range"),
              "[5s] thread 'unnamed' panicked at " + location + ":\nindex out of range\n");
    EXPECT_EQ(format_failure_entry(5, "main", here, std::nullopt), "[5s] thread 'main' panicked at " + location + "\n");
}

TEST(Clock, TimesBefore1970ReadAsZero) {
    constexpr std::uint64_t EPOCH = 116444736000000000;
    EXPECT_EQ(unix_seconds_from_file_time(0), 0u);
    EXPECT_EQ(unix_seconds_from_file_time(EPOCH - 1), 0u);
    EXPECT_EQ(unix_seconds_from_file_time(EPOCH + 19'999'999), 1u) << "truncates, never rounds";
    EXPECT_EQ(unix_seconds_from_file_time(EPOCH + 17'000'000'000'000'000), 1'700'000'000u);
    EXPECT_EQ(unix_seconds_from_signed(-1), 0u);
    EXPECT_EQ(unix_seconds_from_signed(1'700'000'000), 1'700'000'000u);
}

TEST(Clock, WallClockIsAfter2020) { EXPECT_GT(log_platform::wall_clock_unix_seconds(), 1'577'836'800u); }

TEST(AppendToFile, CreatesThenAppendsWithoutTouchingEarlierContent) {
    TempFolder folder;
    const auto file = folder.path() / "crash.log";
    log_platform::append_to_file(file, "first\n");
    EXPECT_EQ(read_file(file), "first\n");
    write_file(file, "from an earlier run\n");
    log_platform::append_to_file(file, "a\n");
    log_platform::append_to_file(file, "b\n");
    EXPECT_EQ(read_file(file), "from an earlier run\na\nb\n");
}

TEST(AppendToFile, UnwritableTargetsAreSilentlySkipped) {
    TempFolder folder;
    const auto folder_in_the_way = folder.path() / "crash.log";
    std::filesystem::create_directory(folder_in_the_way);
    log_platform::append_to_file(folder_in_the_way, "lost\n");
    log_platform::append_to_file(folder.path() / "missing" / "crash.log", "lost\n");
    EXPECT_TRUE(std::filesystem::is_directory(folder_in_the_way));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
}

TEST(LogFileRotation, SetsTheFullFileAsideWholeBeforeAnEntryWouldPassTheLimit) {
    TempFolder folder;
    const auto file = folder.path() / "crash.log";
    const auto older = folder.path() / "crash.log.1";
    write_file(older, "from long ago\n");
    append_to_log_file(file, "0123456789\n", 20);
    append_to_log_file(file, "abcdefgh\n", 20);
    EXPECT_EQ(read_file(file), "0123456789\nabcdefgh\n") << "exactly at the limit stays";
    EXPECT_EQ(read_file(older), "from long ago\n");

    append_to_log_file(file, "x\n", 20);
    EXPECT_EQ(read_file(older), "0123456789\nabcdefgh\n");
    EXPECT_EQ(read_file(file), "x\n");

    // Larger than the limit: a file of its own rather than lost.
    const std::string large = std::string(50, 'y') + "\n";
    append_to_log_file(file, large, 20);
    EXPECT_EQ(read_file(older), "x\n");
    EXPECT_EQ(read_file(file), large);
}

}  // namespace
}  // namespace olvex
