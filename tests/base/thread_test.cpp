#include "base/thread.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.hpp"

namespace olvex {
namespace {

using namespace std::chrono_literals;

struct Recorded {
    std::string file;
    unsigned line;
    std::optional<std::string> message;
    std::string thread;
};

// Collects what the failure recorder is handed, from any thread.
struct RecordedFailures {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Recorded> entries;

    // Never destroyed: detached threads may still be signalling at exit.
    static RecordedFailures& instance() {
        static auto* failures = new RecordedFailures;
        return *failures;
    }
    static void record(const std::source_location& where, std::optional<std::string_view> message) {
        auto& self = instance();
        {
            std::lock_guard lock(self.mutex);
            self.entries.push_back({where.file_name(), where.line(),
                                    message ? std::optional<std::string>(*message) : std::nullopt,
                                    std::string(current_thread_name())});
        }
        self.changed.notify_all();
    }
    std::vector<Recorded> wait_for(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 10s, [&] { return entries.size() >= count; });
        return entries;
    }
};

class ThreadTest : public testing::Test {
protected:
    void SetUp() override {
        auto& failures = RecordedFailures::instance();
        std::lock_guard lock(failures.mutex);
        failures.entries.clear();
        set_failure_recorder(&RecordedFailures::record);
    }
    void TearDown() override { set_failure_recorder(nullptr); }
};

TEST_F(ThreadTest, FailureInsideAThreadIsRecordedAndEndsOnlyThatThread) {
    const unsigned throw_line = __LINE__ + 1;
    spawn_thread([] { throw Failure("worker broke"); });
    const unsigned spawn_line = __LINE__ + 1;
    spawn_thread([] { throw std::runtime_error("plain error"); });
    spawn_thread([] { throw 42; });

    auto entries = RecordedFailures::instance().wait_for(3);
    ASSERT_EQ(entries.size(), 3u);
    std::ranges::sort(entries, {}, &Recorded::line);
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.thread, "unnamed");
        EXPECT_TRUE(entry.file.ends_with("thread_test.cpp")) << entry.file;
    }
    // A Failure names the place it was raised; any other exception the place
    // its thread was started.
    EXPECT_EQ(entries[0].line, throw_line);
    EXPECT_EQ(entries[0].message, "worker broke");
    EXPECT_EQ(entries[1].line, spawn_line);
    EXPECT_EQ(entries[2].line, spawn_line + 1);
    const bool plain_first = entries[1].message == "plain error";
    EXPECT_EQ(entries[plain_first ? 2 : 1].message, std::nullopt) << "a non-exception value carries no text";
}

// Threads that end while others start must all run: one lost thread is a
// worker that never serves, and its owner waits for it forever.
TEST(Thread, EveryThreadStartedAmidOthersEndingRuns) {
    constexpr int count = 200;
    struct Finished {
        std::mutex mutex;
        std::condition_variable changed;
        int count = 0;
    };
    const auto finished = std::make_shared<Finished>();  // outlives a late thread
    for (int i = 0; i < count; ++i)
        spawn_thread([finished] {
            std::lock_guard lock(finished->mutex);
            ++finished->count;
            finished->changed.notify_all();
        });
    std::unique_lock lock(finished->mutex);
    finished->changed.wait_for(lock, 10s, [&] { return finished->count == count; });
    EXPECT_EQ(finished->count, count);
}

TEST_F(ThreadTest, GuardReportsFailureAndLetsTheCallerGoOn) {
    EXPECT_TRUE(run_guarded([] {}));
    EXPECT_FALSE(run_guarded([] { throw std::logic_error("bug"); }));
    const auto entries = RecordedFailures::instance().wait_for(1);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, "bug");
}

TEST_F(ThreadTest, OnlyTheMarkedThreadIsMain) {
    mark_main_thread();
    EXPECT_EQ(current_thread_name(), "main");
    std::string seen;
    std::thread other([&] { seen = current_thread_name(); });
    other.join();
    EXPECT_EQ(seen, "unnamed");
}

}  // namespace
}  // namespace olvex
