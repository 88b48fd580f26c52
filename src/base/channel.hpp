#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace olvex {

// Why a receive came back without a value.
enum class RecvError {
    timeout,  // the deadline passed with the queue still open and empty
    closed,   // every sender is gone and nothing is left
};

namespace detail {

template <typename T>
struct ChannelState {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> items;
    std::size_t senders = 1;
    bool receiver_alive = true;
};

}  // namespace detail

template <typename T>
class Sender;
template <typename T>
class Receiver;
template <typename T>
[[nodiscard]] std::pair<Sender<T>, Receiver<T>> channel();

// The sending end of an unbounded queue. Copies share the queue; the queue
// closes for the receiver once the last copy is gone. Sending never blocks.
template <typename T>
class Sender {
public:
    Sender(const Sender& other) : state_(other.state_) {
        if (state_) {
            std::lock_guard lock(state_->mutex);
            ++state_->senders;
        }
    }
    Sender(Sender&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
    Sender& operator=(Sender other) noexcept {
        std::swap(state_, other.state_);
        return *this;
    }
    ~Sender() { release(); }

    // Queues `value`. Returns false, dropping the value, when the receiver is gone.
    bool send(T value) const {
        if (!state_) return false;
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->receiver_alive) return false;
            state_->items.push_back(std::move(value));
        }
        state_->ready.notify_one();
        return true;
    }

    // Queues `value` in the place of the first waiting value for which
    // `stale(waiting)` holds, or at the end when none does; every other value
    // keeps its place. Returns false, dropping the value, when the receiver is gone.
    template <typename Stale>
    bool send_replacing(T value, Stale&& stale) const {
        if (!state_) return false;
        std::optional<T> replaced;  // let go outside the lock, like the receiver's leftovers
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->receiver_alive) return false;
            auto& items = state_->items;
            const auto waiting = std::find_if(items.begin(), items.end(), std::forward<Stale>(stale));
            if (waiting == items.end()) {
                items.push_back(std::move(value));
            } else {
                replaced.emplace(std::exchange(*waiting, std::move(value)));
            }
        }
        state_->ready.notify_one();
        return true;
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> channel<T>();
    explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

    void release() noexcept {
        if (!state_) return;
        bool last = false;
        {
            std::lock_guard lock(state_->mutex);
            last = --state_->senders == 0;
        }
        if (last) state_->ready.notify_all();
        state_.reset();
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

// The one receiving end. Dropping it makes every later send fail and frees
// whatever was still queued.
template <typename T>
class Receiver {
public:
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { release(); }

    // Blocks until a value arrives; nullopt once the queue is closed and empty.
    [[nodiscard]] std::optional<T> recv() {
        std::unique_lock lock(state_->mutex);
        state_->ready.wait(lock, [this] { return !state_->items.empty() || state_->senders == 0; });
        return take(lock);
    }

    // Waits until `deadline` at the latest.
    template <typename Clock, typename Dur>
    [[nodiscard]] std::expected<T, RecvError> recv_until(std::chrono::time_point<Clock, Dur> deadline) {
        std::unique_lock lock(state_->mutex);
        const bool woke = state_->ready.wait_until(
            lock, deadline, [this] { return !state_->items.empty() || state_->senders == 0; });
        if (!woke) return std::unexpected(RecvError::timeout);
        if (auto value = take(lock)) return std::move(*value);
        return std::unexpected(RecvError::closed);
    }

    template <typename Rep, typename Period>
    [[nodiscard]] std::expected<T, RecvError> recv_for(std::chrono::duration<Rep, Period> timeout) {
        return recv_until(std::chrono::steady_clock::now() + timeout);
    }

    // Takes a value only if one is waiting now.
    [[nodiscard]] std::expected<T, RecvError> try_recv() {
        std::unique_lock lock(state_->mutex);
        if (auto value = take(lock)) return std::move(*value);
        return std::unexpected(state_->senders == 0 ? RecvError::closed : RecvError::timeout);
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> channel<T>();
    explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

    std::optional<T> take(std::unique_lock<std::mutex>&) {
        if (state_->items.empty()) return std::nullopt;
        std::optional<T> value(std::move(state_->items.front()));
        state_->items.pop_front();
        return value;
    }

    void release() noexcept {
        if (!state_) return;
        std::deque<T> leftovers;
        {
            std::lock_guard lock(state_->mutex);
            state_->receiver_alive = false;
            leftovers.swap(state_->items);
        }
        state_.reset();
        // `leftovers` is destroyed here, outside the lock: a value's destructor
        // may itself send on another queue.
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

// Creates a queue with one sender (copy it for more) and its receiver.
template <typename T>
[[nodiscard]] std::pair<Sender<T>, Receiver<T>> channel() {
    auto state = std::make_shared<detail::ChannelState<T>>();
    return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace olvex
