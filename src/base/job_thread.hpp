#pragma once

// Threads that their owner can stop and outlive safely, even when the owner
// is destroyed on one of them.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "base/channel.hpp"

namespace olvex {

// Shared between a thread and its owner: the owner asks the thread to stop
// and waits until it has, unless the owner is going away on that very thread
// (its last user let go there), which then must not touch the owner again.
// Owners hold it through a shared_ptr that the thread holds too, since the
// thread may run on after the owner is gone.
class ThreadShutdown {
public:
    // Called by the thread: first thing, and last thing.
    void started();
    void finished();

    void ask_to_stop();
    [[nodiscard]] bool stopping() const;

    // Returns at once when called on the thread itself.
    void wait_unless_on_it();

private:
    std::atomic<bool> stopping_{false};
    std::atomic<std::thread::id> thread_{};
    std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
};

// Runs posted jobs one after another on a thread of its own. Jobs use their
// owner, so none runs once `stop` has been called; the ones still queued then
// are dropped unrun.
class JobThread {
public:
    using Job = std::move_only_function<void()>;

    // Throws Failure when no thread can be started.
    JobThread();
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;
    ~JobThread();

    // An exception escaping `job` is recorded and does not end the thread.
    void post(Job job) const;

    // Waits for the job in progress, if any, unless called from it.
    void stop();

private:
    std::shared_ptr<ThreadShutdown> shutdown_ = std::make_shared<ThreadShutdown>();
    std::optional<Sender<Job>> jobs_;  // set once, in the constructor
};

}  // namespace olvex
