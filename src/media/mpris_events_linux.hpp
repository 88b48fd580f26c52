#pragma once

// Event registrations of the MPRIS sessions and manager: handlers are added
// and removed on any thread and called on the thread that raises the event.

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "media/media_platform.hpp"

namespace olvex::media::mpris {

template <typename Event, typename Handler>
class HandlerRegistry {
public:
    [[nodiscard]] EventToken add(Event event, Handler handler) {
        std::lock_guard lock(mutex_);
        const EventToken token = next_token_++;
        entries_.push_back(Entry{token, event, std::move(handler)});
        return token;
    }

    void remove(Event event, EventToken token) {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&](const Entry& entry) { return entry.token == token && entry.event == event; });
    }

    // Copies, so that handlers run without the lock: a handler may add or
    // remove registrations itself.
    [[nodiscard]] std::vector<Handler> handlers_for(Event event) const {
        std::vector<Handler> handlers;
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry.event == event) handlers.push_back(entry.handler);
        }
        return handlers;
    }

private:
    struct Entry {
        EventToken token;
        Event event;
        Handler handler;
    };

    mutable std::mutex mutex_;
    EventToken next_token_ = 1;
    std::vector<Entry> entries_;
};

}  // namespace olvex::media::mpris
