#include "base/debouncer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/failure.hpp"
#include "log/log.hpp"

namespace olvex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto DELAY = 100ms;
constexpr Duration DELAY_SPAN = Duration::from_millis(100);
// How long a test waits for something that must happen.
constexpr auto PATIENCE = 10s;
// How long a test watches for something that must not happen.
constexpr auto WATCH = 4 * DELAY;
// Runs of a timing script before a test gives up on a machine too busy for it.
constexpr int ATTEMPTS = 8;
constexpr const char* DROPPED_LINE = "debounce: on_fire panicked, event dropped";

struct Fired {
    int id;
    Clock::time_point at;
};

// Collects the calls of an action. Shared with the worker, which outlives the test.
class Recorder {
public:
    void record(int id) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back({id, Clock::now()});
        }
        changed_.notify_all();
    }

    // The calls so far, once there are `count` of them or PATIENCE has passed.
    std::vector<Fired> wait_for(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, PATIENCE, [&] { return calls_.size() >= count; });
        return calls_;
    }

    // The calls so far, after giving a wrongful one time to show up.
    std::vector<Fired> after_watching() {
        std::this_thread::sleep_for(WATCH);
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Fired> calls_;
};

std::vector<int> ids(const std::vector<Fired>& calls) {
    std::vector<int> result;
    for (const auto& call : calls) result.push_back(call.id);
    return result;
}

std::shared_ptr<Debouncer<int>> start_recording(const std::shared_ptr<Recorder>& recorder) {
    return Debouncer<int>::start(DELAY_SPAN, [recorder](int id) { recorder->record(id); });
}

// When one call on the debouncer began and when it returned.
struct Step {
    Clock::time_point begin;
    Clock::time_point end;
};

template <typename Call>
Step timed(Call&& call) {
    const auto begin = Clock::now();
    call();
    return {begin, Clock::now()};
}

// Whether every step finished less than one delay after the one before it
// began; only then can no quiet period have passed between them. A loaded
// machine can oversleep a whole delay, and such a run proves nothing.
bool kept_close(const std::vector<Step>& steps) {
    for (std::size_t i = 1; i < steps.size(); ++i)
        if (steps[i].end - steps[i - 1].begin >= DELAY) return false;
    return true;
}

// Runs `attempt` until one run reports that its timing held.
template <typename Attempt>
bool run_until_timing_held(Attempt attempt) {
    for (int i = 0; i < ATTEMPTS; ++i)
        if (attempt()) return true;
    return false;
}

constexpr const char* TOO_BUSY = "the machine kept oversleeping; no run had its steps less than a delay apart";

TEST(Debouncer, BurstFiresOnceWithItsLastEventAFullDelayAfterIt) {
    const bool held = run_until_timing_held([] {
        auto recorder = std::make_shared<Recorder>();
        auto debouncer = start_recording(recorder);
        const auto start = Clock::now();
        std::vector<Step> steps;
        for (int id = 1; id <= 3; ++id) {
            std::this_thread::sleep_until(start + (id - 1) * 3 * DELAY / 10);
            steps.push_back(timed([&] { debouncer->trigger(id); }));
        }
        if (!kept_close(steps)) return false;

        const auto fired = recorder->wait_for(1);
        EXPECT_EQ(ids(fired), std::vector{3});
        if (!fired.empty()) {
            EXPECT_GE(fired[0].at - steps.back().begin, DELAY);
        }
        EXPECT_EQ(recorder->after_watching().size(), 1u);
        return true;
    });
    if (!held) GTEST_SKIP() << TOO_BUSY;
}

TEST(Debouncer, TriggersLessThanADelayApartHoldOffFiringUntilTheyStop) {
    const bool held = run_until_timing_held([] {
        auto recorder = std::make_shared<Recorder>();
        auto debouncer = start_recording(recorder);
        const auto start = Clock::now();
        std::vector<Step> steps;
        for (int id = 1; id <= 6; ++id) {
            std::this_thread::sleep_until(start + (id - 1) * 9 * DELAY / 10);
            steps.push_back(timed([&] { debouncer->trigger(id); }));
        }
        if (!kept_close(steps)) return false;

        const auto fired = recorder->wait_for(1);
        EXPECT_EQ(ids(fired), std::vector{6}) << "nothing fires while the triggers keep coming";
        if (!fired.empty()) {
            EXPECT_GE(fired[0].at - steps.back().begin, DELAY);
        }
        EXPECT_EQ(recorder->after_watching().size(), 1u);
        return true;
    });
    if (!held) GTEST_SKIP() << TOO_BUSY;
}

TEST(Debouncer, CancelDropsThePendingEventAndLeavesTheDebouncerUsable) {
    const bool held = run_until_timing_held([] {
        auto recorder = std::make_shared<Recorder>();
        auto debouncer = start_recording(recorder);
        const auto start = Clock::now();
        const auto trigger = timed([&] { debouncer->trigger(1); });
        std::this_thread::sleep_until(start + DELAY / 2);
        const auto cancel = timed([&] { debouncer->cancel(); });
        if (!kept_close({trigger, cancel})) return false;

        EXPECT_TRUE(recorder->after_watching().empty());
        // Back to waiting for an event: the next one fires as usual.
        debouncer->trigger(2);
        EXPECT_EQ(ids(recorder->wait_for(1)), std::vector{2});
        return true;
    });
    if (!held) GTEST_SKIP() << TOO_BUSY;
}

TEST(Debouncer, TriggerAfterCancelFiresOnceAFullDelayAfterTheTrigger) {
    auto recorder = std::make_shared<Recorder>();
    auto debouncer = start_recording(recorder);
    debouncer->cancel();  // with nothing pending
    std::this_thread::sleep_for(DELAY / 5);
    const auto trigger = timed([&] { debouncer->trigger(1); });
    const auto fired = recorder->wait_for(1);
    ASSERT_EQ(ids(fired), std::vector{1});
    EXPECT_GE(fired[0].at - trigger.begin, DELAY);
    EXPECT_EQ(recorder->after_watching().size(), 1u);
}

TEST(Debouncer, CancelAndTriggerInOneQuietPeriodFireOnlyTheNewEvent) {
    const bool held = run_until_timing_held([] {
        auto recorder = std::make_shared<Recorder>();
        auto debouncer = start_recording(recorder);
        const std::vector<Step> steps{timed([&] { debouncer->trigger(1); }), timed([&] { debouncer->cancel(); }),
                                      timed([&] { debouncer->trigger(2); })};
        if (!kept_close(steps)) return false;

        const auto fired = recorder->wait_for(1);
        EXPECT_EQ(ids(fired), std::vector{2});
        if (!fired.empty()) {
            EXPECT_GE(fired[0].at - steps.back().begin, DELAY);
        }
        EXPECT_EQ(recorder->after_watching().size(), 1u);
        return true;
    });
    if (!held) GTEST_SKIP() << TOO_BUSY;
}

// Holds an action inside its call until the test lets it go.
class Gate {
public:
    // Called by the action: announces it is inside and waits to be let go.
    void pass() {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, PATIENCE, [&] { return opened_; });
        left_at_ = Clock::now();
        left_ = true;
    }
    bool wait_until_entered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, PATIENCE, [&] { return entered_; });
    }
    // Lets the action go; false if it had already given up waiting.
    bool open() {
        {
            std::lock_guard lock(mutex_);
            if (left_) return false;
            opened_ = true;
        }
        changed_.notify_all();
        return true;
    }
    Clock::time_point left_at() {
        std::lock_guard lock(mutex_);
        return left_at_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool opened_ = false;
    bool left_ = false;
    Clock::time_point left_at_;
};

TEST(Debouncer, TriggerWhileTheActionRunsFiresAgainAFullDelayAfterItReturns) {
    auto recorder = std::make_shared<Recorder>();
    auto gate = std::make_shared<Gate>();
    auto debouncer = Debouncer<int>::start(DELAY_SPAN, [recorder, gate](int id) {
        recorder->record(id);
        if (id == 1) gate->pass();
    });
    debouncer->trigger(1);
    ASSERT_TRUE(gate->wait_until_entered());
    debouncer->trigger(2);
    debouncer->trigger(3);
    EXPECT_TRUE(gate->open()) << "trigger() waited for the running action";

    const auto fired = recorder->wait_for(2);
    ASSERT_EQ(ids(fired), (std::vector{1, 3}));
    EXPECT_GE(fired[1].at - gate->left_at(), DELAY);
    EXPECT_EQ(recorder->after_watching().size(), 2u);
}

// What the failure recorder was handed; never destroyed, as detached threads
// may report at any time.
struct RecordedFailures {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> messages;

    static RecordedFailures& instance() {
        static auto* failures = new RecordedFailures;
        return *failures;
    }
    static void record(const std::source_location&, std::optional<std::string_view> message) {
        auto& self = instance();
        {
            std::lock_guard lock(self.mutex);
            self.messages.emplace_back(message.value_or("<none>"));
        }
        self.changed.notify_all();
    }
    std::vector<std::string> wait_for(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, PATIENCE, [&] { return messages.size() >= count; });
        return messages;
    }
};

std::size_t count_lines(const std::string& text, const std::string& line) {
    std::size_t count = 0;
    for (auto at = text.find(line + '\n'); at != std::string::npos; at = text.find(line + '\n', at + 1))
        if (at == 0 || text[at - 1] == '\n') ++count;
    return count;
}

TEST(Debouncer, ThrowingActionIsRecordedAndLoggedOnceAndTheNextEventFires) {
    {
        auto& failures = RecordedFailures::instance();
        std::lock_guard lock(failures.mutex);
        failures.messages.clear();
    }
    set_failure_recorder(&RecordedFailures::record);
    testing::internal::CaptureStderr();

    auto recorder = std::make_shared<Recorder>();
    auto debouncer = Debouncer<int>::start(
        DELAY_SPAN,
        [recorder](int id) {
            if (id == 1) throw std::runtime_error("art went wrong");
            recorder->record(id);
        },
        [] { log_message(DROPPED_LINE); });
    debouncer->trigger(1);
    const auto failures = RecordedFailures::instance().wait_for(1);
    debouncer->trigger(2);
    const auto fired = recorder->wait_for(1);

    const std::string standard_error = testing::internal::GetCapturedStderr();
    set_failure_recorder(nullptr);
    EXPECT_EQ(failures, std::vector<std::string>{"art went wrong"});
    EXPECT_EQ(count_lines(standard_error, DROPPED_LINE), 1u) << standard_error;
    EXPECT_EQ(ids(fired), std::vector{2});
}

// Counts its copies; moving is free.
struct CopyCounted {
    int id;
    std::shared_ptr<std::atomic<int>> copies;

    CopyCounted(int identity, std::shared_ptr<std::atomic<int>> counter) : id(identity), copies(std::move(counter)) {}
    CopyCounted(const CopyCounted& other) : id(other.id), copies(other.copies) { ++*copies; }
    CopyCounted(CopyCounted&&) noexcept = default;
    CopyCounted& operator=(const CopyCounted& other) {
        id = other.id;
        copies = other.copies;
        ++*copies;
        return *this;
    }
    CopyCounted& operator=(CopyCounted&&) noexcept = default;
};

TEST(Debouncer, EventsAreMovedThroughNeverCopied) {
    auto copies = std::make_shared<std::atomic<int>>(0);
    auto recorder = std::make_shared<Recorder>();
    auto counted = Debouncer<CopyCounted>::start(DELAY_SPAN, [recorder](CopyCounted event) {
        recorder->record(event.id);
    });
    counted->trigger(CopyCounted(1, copies));
    counted->trigger(CopyCounted(2, copies));  // replaces the pending one
    const auto fired = recorder->wait_for(1);
    ASSERT_FALSE(fired.empty());
    EXPECT_EQ(recorder->after_watching().back().id, 2);
    EXPECT_EQ(copies->load(), 0);

    auto move_only_recorder = std::make_shared<Recorder>();
    auto move_only = Debouncer<std::unique_ptr<int>>::start(
        DELAY_SPAN, [move_only_recorder](std::unique_ptr<int> event) { move_only_recorder->record(*event); });
    move_only->trigger(std::make_unique<int>(7));
    EXPECT_EQ(ids(move_only_recorder->wait_for(1)), std::vector{7});
}

TEST(Debouncer, DelayBeyondWhatTheClockCanHoldNeverFires) {
    auto recorder = std::make_shared<Recorder>();
    const Duration longest{std::numeric_limits<std::uint64_t>::max(), Duration::NANOS_PER_SECOND - 1};
    auto debouncer = Debouncer<int>::start(longest, [recorder](int id) { recorder->record(id); });
    debouncer->trigger(1);
    debouncer->trigger(2);
    EXPECT_TRUE(recorder->after_watching().empty());
}

}  // namespace
}  // namespace olvex
