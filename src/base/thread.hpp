#pragma once

#include <functional>
#include <source_location>
#include <string_view>

namespace olvex {

// Starts `body` on a new detached thread without a name. An exception that
// escapes `body` is recorded as a failure and ends that thread only.
// Throws Failure("failed to spawn thread: ...") when no thread can be started.
void spawn_thread(std::move_only_function<void()> body,
                  std::source_location where = std::source_location::current());

// Marks the calling thread as the program's main thread.
void mark_main_thread() noexcept;

// "main" on the thread marked as main, "unnamed" on every other.
[[nodiscard]] std::string_view current_thread_name() noexcept;

}  // namespace olvex
