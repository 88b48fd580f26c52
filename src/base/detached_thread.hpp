#pragma once

// Starting a thread that nobody joins, by each platform's sturdiest means.

#include <functional>

namespace olvex {

// Runs `body` on a new thread that ends on its own. `body` must not throw.
// Throws std::system_error when the system starts no thread.
void start_detached_thread(std::move_only_function<void()> body);

}  // namespace olvex
