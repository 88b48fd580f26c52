#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/failure.hpp"
#include "base/thread.hpp"
#include "log/log.hpp"
#include "log/log_platform.hpp"
#include "support/temp_folder.hpp"

namespace olvex {
namespace {

using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::write_file;

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

[[noreturn]] void raise_failure(const char* message) { throw Failure(message); }

TEST(CrashLogPath, PrefersTheStateFolderAndCreatesIt) {
    TempFolder state;
    ScopedEnv xdg("XDG_STATE_HOME", state.path().string());
    const auto expected = state.path() / "olvex-audio-control" / "crash.log";
    EXPECT_EQ(crash_log_path(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected.parent_path()));
}

TEST(CrashLogPath, FallsBackToHomeThenTheExecutablesFolder) {
    TempFolder home;
    ScopedEnv relative_state("XDG_STATE_HOME", "relative/is/ignored");
    ScopedEnv home_env("HOME", home.path().string());
    EXPECT_EQ(crash_log_path(), home.path() / ".local" / "state" / "olvex-audio-control" / "crash.log");

    ScopedEnv no_home("HOME", std::nullopt);
    const auto exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(crash_log_path(), exe.parent_path() / "crash.log");
}

class LogFile : public testing::Test {
protected:
    TempFolder state;
    ScopedEnv xdg{"XDG_STATE_HOME", state.path().string()};
    std::filesystem::path file() const { return state.path() / "olvex-audio-control" / "crash.log"; }
};

TEST_F(LogFile, LogMessageWritesStandardErrorAndAppendsTimestampedLines) {
    std::filesystem::create_directories(file().parent_path());
    write_file(file(), "[1s] from an earlier run\n");
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));

    testing::internal::CaptureStderr();
    log_message("device: a");
    log_message("volume: b\nsecond line");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "device: a\nvolume: b\nsecond line\n");

    const auto after = static_cast<std::uint64_t>(std::time(nullptr));
    const std::string text = read_file(file());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        text, match, std::regex(R"(\[1s\] from an earlier run\n\[(\d+)s\] device: a\n\[(\d+)s\] volume: b\nsecond line\n)")))
        << text;
    for (std::size_t i = 1; i <= 2; ++i) {
        const auto seconds = std::stoull(match[i].str());
        EXPECT_GE(seconds, before);
        EXPECT_LE(seconds, after);
    }
}

TEST_F(LogFile, AnUnwritableLogIsSilent) {
    std::filesystem::create_directories(file());  // a folder where the file should be
    testing::internal::CaptureStderr();
    log_message("serial: still running");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "serial: still running\n");
}

TEST_F(LogFile, ABrokenStandardErrorStillLeavesTheEntry) {
    EXPECT_EXIT(
        {
            install_failure_hook();
            int ends[2];
            if (::pipe(ends) != 0) std::_Exit(3);
            ::close(ends[0]);
            ::dup2(ends[1], STDERR_FILENO);
            log_message("device: nobody reads standard error");
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_TRUE(read_file(file()).ends_with("s] device: nobody reads standard error\n")) << read_file(file());
}

TEST_F(LogFile, FailureOnAWorkerThreadIsRecordedAsUnnamed) {
    install_failure_hook();
    const unsigned line = __LINE__ + 1;
    spawn_thread([] { throw Failure("queue vanished"); });
    std::string text;
    for (int attempt = 0; attempt < 500 && text.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        text = read_file(file());
    }
    set_failure_recorder(nullptr);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[\d+s\] thread 'unnamed' panicked at tests/log/log_linux_test\.cpp:)" +
                                                  std::to_string(line) + R"(:\d+:\nqueue vanished\n)")))
        << text;
}

TEST_F(LogFile, UncaughtExceptionOnTheMainThreadIsRecordedAsMain) {
    EXPECT_EXIT(
        {
            install_failure_hook();
            // Escaping a noexcept function ends in std::terminate, as an
            // exception leaving main does.
            []() noexcept { raise_failure("start-up broke"); }();
        },
        testing::ExitedWithCode(EXIT_FAILURE), "");
    EXPECT_TRUE(std::regex_match(read_file(file()),
                                 std::regex(R"(\[\d+s\] thread 'main' panicked at tests/log/log_linux_test\.cpp:\d+:\d+:\nstart-up broke\n)")))
        << read_file(file());
}

// Linux only, like the test below. The writers fill the log past its limit
// once, so everything written is in crash.log.1 and crash.log.
TEST_F(LogFile, EntriesOfManyThreadsSurviveTheRotationWhole) {
    constexpr int THREADS = 4, ENTRIES = 1000;
    const std::string tail(300, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
        writers.emplace_back([&, t] {
            for (int n = 0; n < ENTRIES; ++n)
                append_to_crash_log("[0s] " + std::to_string(t) + " " + std::to_string(n) + " " + tail + "\n");
        });
    }
    for (auto& writer : writers) writer.join();

    auto rotated = file();
    rotated += ".1";
    const std::string older = read_file(rotated);
    EXPECT_LE(older.size(), CRASH_LOG_LIMIT);
    EXPECT_GT(older.size(), CRASH_LOG_LIMIT - 400) << "set aside only when full";
    std::set<std::string> seen;
    std::istringstream lines(older + read_file(file()));
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, std::regex(R"(\[0s\] (\d \d+) x{300})"))) << line.substr(0, 40);
        EXPECT_TRUE(seen.insert(match[1].str()).second) << match[1].str();
    }
    EXPECT_EQ(seen.size(), std::size_t{THREADS * ENTRIES});
}

// Linux only: Wine emulates append-only handles with a seek and a write, so
// concurrent appends there can overwrite each other, which Windows itself does not.
TEST(AppendToFile, EntriesFromManyThreadsNeverMix) {
    TempFolder folder;
    const auto file = folder.path() / "crash.log";
    constexpr int THREADS = 4, ENTRIES = 100;
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
        writers.emplace_back([&, t] {
            const std::string entry = "[0s] thread " + std::to_string(t) + " " + std::string(300, 'x') + "\n";
            for (int n = 0; n < ENTRIES; ++n) log_platform::append_to_file(file, entry);
        });
    }
    for (auto& writer : writers) writer.join();
    std::istringstream lines(read_file(file));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_TRUE(line.starts_with("[0s] thread ")) << line.substr(0, 40);
        EXPECT_TRUE(line.ends_with(std::string(300, 'x')));
    }
    EXPECT_EQ(count, THREADS * ENTRIES);
}

}  // namespace
}  // namespace olvex
