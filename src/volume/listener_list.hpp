#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace olvex::volume {

// Listeners called from the platform's threads. A call copies the list under
// its lock and calls the copies outside it, so a listener may take its time
// (or add listeners) without holding up other callers.
template <typename... Args>
class ListenerList {
public:
    using Listener = std::function<void(Args...)>;

    void add(Listener listener) {
        auto shared = std::make_shared<const Listener>(std::move(listener));
        std::lock_guard lock(mutex_);
        listeners_.push_back(std::move(shared));
    }

    void call(const Args&... args) const {
        std::vector<std::shared_ptr<const Listener>> copies;
        {
            std::lock_guard lock(mutex_);
            copies = listeners_;
        }
        for (const auto& listener : copies) (*listener)(args...);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const Listener>> listeners_;
};

// Master volume changes: (level, muted).
using MasterVolumeListeners = ListenerList<float, bool>;
// Session volume changes of the watched application: (app id, level, muted).
using SessionVolumeListeners = ListenerList<std::string, float, bool>;

}  // namespace olvex::volume
