#include "base/detached_thread.hpp"

#include <process.h>
#include <windows.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

namespace olvex {

namespace {

using Body = std::move_only_function<void()>;

unsigned __stdcall run_body(void* argument) {
    const std::unique_ptr<Body> body(static_cast<Body*>(argument));
    (*body)();
    return 0;
}

}  // namespace

// Not std::thread: with MinGW's winpthreads, a detached thread started while
// others end now and then never runs its body (seen about once in thirty
// starts of three short-lived threads). The C runtime's own start has no
// such bookkeeping; closing the handle lets the thread end on its own.
void start_detached_thread(Body body) {
    auto owned = std::make_unique<Body>(std::move(body));
    const auto handle = _beginthreadex(nullptr, 0, &run_body, owned.get(), 0, nullptr);
    if (handle == 0) throw std::system_error(errno, std::generic_category(), "_beginthreadex");
    owned.release();  // run_body owns it now
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace olvex
