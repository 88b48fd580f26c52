#include "base/thread.hpp"

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "base/detached_thread.hpp"
#include "base/failure.hpp"

namespace olvex {

namespace {
std::atomic<std::thread::id> main_thread_id{};
}

void spawn_thread(std::move_only_function<void()> body, std::source_location where) {
    auto run = [body = std::move(body), where]() mutable noexcept { run_guarded(body, where); };
    try {
        start_detached_thread(std::move(run));
    } catch (const std::system_error& error) {
        throw Failure(std::string("failed to spawn thread: ") + error.what(), where);
    }
}

void mark_main_thread() noexcept { main_thread_id.store(std::this_thread::get_id()); }

std::string_view current_thread_name() noexcept {
    return std::this_thread::get_id() == main_thread_id.load() ? "main" : "unnamed";
}

}  // namespace olvex
