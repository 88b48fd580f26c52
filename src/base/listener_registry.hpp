#pragma once

// Listeners added and removed on any thread and called on the thread that
// raises their event. Calls work on copies taken under the lock and run them
// outside it, so a listener may take its time, or add and remove listeners
// itself, without holding up anyone else.

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <mutex>
#include <utility>
#include <variant>
#include <vector>

namespace olvex {

// `Key` tells apart the events one registry serves (several kinds of event
// under one numbering of tokens); std::monostate, for a registry of one event.
template <typename Listener, typename Key = std::monostate>
class ListenerRegistry {
public:
    // Unique within the registry, from 1 up; what remove() takes back.
    using Token = std::int64_t;

    Token add(Key key, Listener listener) {
        std::lock_guard lock(mutex_);
        const Token token = next_token_++;
        entries_.push_back(Entry{token, std::move(key), std::move(listener)});
        return token;
    }

    Token add(Listener listener)
        requires std::same_as<Key, std::monostate>
    {
        return add(Key{}, std::move(listener));
    }

    // Takes out the listener that `add(key, ...)` returned `token` for; any
    // other pair is ignored.
    void remove(const Key& key, Token token) {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&](const Entry& entry) { return entry.token == token && entry.key == key; });
    }

    // Copies of the listeners of `key`, in the order they were added.
    [[nodiscard]] std::vector<Listener> listeners_for(const Key& key) const {
        std::vector<Listener> copies;
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry.key == key) copies.push_back(entry.listener);
        }
        return copies;
    }

    // Calls every listener with `args`, outside the lock.
    template <typename... Args>
        requires std::same_as<Key, std::monostate>
    void call(const Args&... args) const {
        for (const auto& listener : listeners_for(Key{})) listener(args...);
    }

private:
    struct Entry {
        Token token;
        Key key;
        Listener listener;
    };

    mutable std::mutex mutex_;
    Token next_token_ = 1;
    std::vector<Entry> entries_;
};

}  // namespace olvex
