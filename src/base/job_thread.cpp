#include "base/job_thread.hpp"

#include <utility>

#include "base/failure.hpp"
#include "base/thread.hpp"

namespace olvex {

void ThreadShutdown::started() { thread_.store(std::this_thread::get_id()); }

void ThreadShutdown::finished() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    ended_.notify_all();
}

void ThreadShutdown::ask_to_stop() { stopping_.store(true); }

bool ThreadShutdown::stopping() const { return stopping_.load(); }

void ThreadShutdown::wait_unless_on_it() {
    if (thread_.load() == std::this_thread::get_id()) return;
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return finished_; });
}

namespace {

void run_jobs(Receiver<JobThread::Job>& jobs, ThreadShutdown& shutdown) {
    shutdown.started();
    while (auto job = jobs.recv()) {
        if (shutdown.stopping()) break;
        if (*job) run_guarded(*job);
    }
    while (jobs.try_recv()) {
    }
    shutdown.finished();
}

}  // namespace

JobThread::JobThread() {
    auto [sender, receiver] = channel<Job>();
    jobs_.emplace(std::move(sender));
    spawn_thread([receiver = std::move(receiver), shutdown = shutdown_]() mutable { run_jobs(receiver, *shutdown); });
}

JobThread::~JobThread() { stop(); }

void JobThread::post(Job job) const { jobs_->send(std::move(job)); }

void JobThread::stop() {
    shutdown_->ask_to_stop();
    jobs_->send(Job{});  // wakes the thread
    shutdown_->wait_unless_on_it();
}

}  // namespace olvex
