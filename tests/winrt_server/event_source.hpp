#pragma once

// The handlers registered for one event, by token.

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "winrt_server/com_object.hpp"
#include "winrt_server/server_state.hpp"

namespace olvex::test_server {

template <class Handler>
class EventSource {
public:
    std::int64_t add(Handler* handler) {
        const std::int64_t token = state().next_token();
        const std::lock_guard lock(mutex_);
        handlers_.emplace(token, Ref<Handler>::share(handler));
        return token;
    }
    // Whether the token was registered here.
    bool remove(std::int64_t token) {
        const std::lock_guard lock(mutex_);
        return handlers_.erase(token) != 0;
    }
    [[nodiscard]] std::vector<Ref<Handler>> handlers() const {
        const std::lock_guard lock(mutex_);
        std::vector<Ref<Handler>> copy;
        for (const auto& [token, handler] : handlers_) copy.push_back(handler);
        return copy;
    }
    [[nodiscard]] std::size_t size() const {
        const std::lock_guard lock(mutex_);
        return handlers_.size();
    }
    void clear() {
        std::map<std::int64_t, Ref<Handler>> dropped;
        const std::lock_guard lock(mutex_);
        dropped.swap(handlers_);
    }

private:
    mutable std::mutex mutex_;
    std::map<std::int64_t, Ref<Handler>> handlers_;
};

}  // namespace olvex::test_server
