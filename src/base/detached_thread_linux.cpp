#include "base/detached_thread.hpp"

#include <thread>
#include <utility>

namespace olvex {

void start_detached_thread(std::move_only_function<void()> body) { std::thread(std::move(body)).detach(); }

}  // namespace olvex
