#pragma once

// Collects what a media subscriber receives, for tests that wait on the
// watcher's worker thread.

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "base/channel.hpp"
#include "media/watcher.hpp"

namespace olvex::testing_support {

struct Delivery {
    std::optional<media::SessionSnapshot> snapshot;
    media::SessionChange change = media::SessionChange::SessionAttached;
    std::thread::id thread;

    [[nodiscard]] std::string title() const { return snapshot ? snapshot->title : "<none>"; }
};

class MediaRecorder {
public:
    MediaRecorder() : MediaRecorder(channel<Delivery>()) {}

    [[nodiscard]] media::Subscriber subscriber() const {
        return [sender = sender_](std::optional<media::SessionSnapshot> snapshot, media::SessionChange change) {
            sender.send(Delivery{std::move(snapshot), change, std::this_thread::get_id()});
        };
    }

    // The next delivery, or nothing after `timeout`.
    [[nodiscard]] std::optional<Delivery> next(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        auto delivery = receiver_.recv_for(timeout);
        if (!delivery) return std::nullopt;
        return std::move(*delivery);
    }

    // Waits for the next delivery of `change` that shows `title`, skipping
    // others (a notice queued earlier may still arrive first).
    [[nodiscard]] std::optional<Delivery> wait_for(media::SessionChange change, const std::string& title) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            auto delivery = next(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (delivery && delivery->change == change && delivery->title() == title) return delivery;
        }
        return std::nullopt;
    }

private:
    explicit MediaRecorder(std::pair<Sender<Delivery>, Receiver<Delivery>> ends)
        : sender_(std::move(ends.first)), receiver_(std::move(ends.second)) {}

    Sender<Delivery> sender_;
    Receiver<Delivery> receiver_;
};

}  // namespace olvex::testing_support
