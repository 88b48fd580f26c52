#pragma once

// Collapses a burst of events into one: only the last event of a burst is
// acted on, once a quiet period has passed without a new one.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "base/duration.hpp"
#include "base/failure.hpp"
#include "base/thread.hpp"

namespace olvex {

namespace detail {

// With `lock` held on entry and on return: returns once a full `delay` has
// passed in which `triggers` stayed the same; each change of it, announced
// through `wakeup`, starts a full `delay` anew. `triggers` is read only under
// `lock`.
void wait_quiet_period(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                       const std::uint64_t& triggers, Duration delay);

}  // namespace detail

// Holds at most one pending event and hands it to an action on a worker
// thread of its own, once `delay` has passed without a new trigger. Events are
// moved in and out, never copied, so `Event` only needs to be movable.
// Safe to use from any thread.
template <typename Event>
class Debouncer {
public:
    using Action = std::move_only_function<void(Event)>;
    // Told that an action threw and its event was dropped.
    using DropNotice = std::move_only_function<void()>;

    // Only start() makes one; the key keeps the constructor out of reach.
    class Key {
        friend class Debouncer;
        Key() = default;
    };
    explicit Debouncer(Key) {}
    Debouncer(const Debouncer&) = delete;
    Debouncer& operator=(const Debouncer&) = delete;

    // Starts the worker, which calls `on_fire` with the last triggered event
    // after `delay` without a trigger; one call at a time, never under the
    // lock that trigger() and cancel() take. An exception from `on_fire` is
    // recorded as a failure, the event is dropped, `on_drop` is told (the
    // caller's log line) and the worker goes on. The worker keeps the state
    // alive and runs until the process ends: there is no stop. Throws Failure
    // when no thread can be started.
    [[nodiscard]] static std::shared_ptr<Debouncer> start(Duration delay, Action on_fire, DropNotice on_drop = {}) {
        auto state = std::make_shared<Debouncer>(Key{});
        spawn_thread([state, delay, on_fire = std::move(on_fire), on_drop = std::move(on_drop)]() mutable {
            state->work(delay, on_fire, on_drop);
        });
        return state;
    }

    // Makes `event` the pending one, dropping any earlier pending event unseen,
    // and restarts the quiet period. Never waits for a running action.
    void trigger(Event event) {
        {
            std::lock_guard lock(mutex_);
            pending_.emplace(std::move(event));
            ++triggers_;
        }
        wakeup_.notify_one();
    }

    // Drops the pending event, if any; nothing fires for it. An action that
    // is already running is not affected.
    void cancel() {
        std::lock_guard lock(mutex_);
        pending_.reset();
    }

private:
    [[noreturn]] void work(Duration delay, Action& on_fire, DropNotice& on_drop) {
        for (;;) {
            std::optional<Event> event = next_event(delay);
            if (!event) continue;  // cancelled during the quiet period
            if (!run_guarded([&] { on_fire(std::move(*event)); }) && on_drop) on_drop();
        }
    }

    // Waits for a pending event and then for a quiet period, and takes
    // whatever is pending by then (nothing, after a cancel).
    std::optional<Event> next_event(Duration delay) {
        std::unique_lock lock(mutex_);
        wakeup_.wait(lock, [this] { return pending_.has_value(); });
        detail::wait_quiet_period(wakeup_, lock, triggers_, delay);
        return std::exchange(pending_, std::nullopt);
    }

    std::mutex mutex_;
    std::condition_variable wakeup_;
    std::optional<Event> pending_;
    // Counts triggers, so that one landing while the worker was already waking
    // from a finished wait still restarts the quiet period.
    std::uint64_t triggers_ = 0;
};

}  // namespace olvex
