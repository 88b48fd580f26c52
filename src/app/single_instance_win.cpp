#include <windows.h>

#include "app/single_instance.hpp"

namespace olvex::app {

namespace {

// "Local\" is the session's namespace: another user logged in at the same
// time runs a copy of their own.
constexpr const wchar_t* MUTEX_NAME = L"Local\\OLVEX-Audio-Control";

}  // namespace

bool take_single_instance_claim() {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, MUTEX_NAME);
    // Denied means a copy with other rights made it.
    if (mutex == nullptr) return GetLastError() != ERROR_ACCESS_DENIED;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    // The handle stays open for the life of the process; the name goes with it.
    return true;
}

}  // namespace olvex::app
