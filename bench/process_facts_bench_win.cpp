// What gathering the process facts for one change of application costs, with
// 300 processes and 200 top-level windows on the desktop: the processes are
// suspended copies of this program, the windows its own. Prints the fastest,
// the median and the slowest of 50 gatherings, in three situations.
//
// Google Benchmark has no build for the cross toolchain, hence a plain
// program. Run it from a RelWithDebInfo build: tools/bench-process-facts.sh.

#include <windows.h>
#include <shobjidl.h>
#include <propkey.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/com_apartment_win.hpp"
#include "base/com_ptr_win.hpp"
#include "volume/process_facts_win.hpp"

namespace {

constexpr std::size_t PROCESSES = 300;
constexpr std::size_t WINDOWS = 200;
constexpr int ROUNDS = 50;

std::size_t running_processes() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    std::size_t count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) ++count;
    CloseHandle(snapshot);
    return count;
}

// Copies of this program that never run a line of it.
std::vector<PROCESS_INFORMATION> start_suspended_copies(std::size_t count) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::vector<PROCESS_INFORMATION> copies;
    for (std::size_t i = 0; i < count; ++i) {
        std::wstring command = L"\"" + std::wstring(path) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(path, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                            &startup, &info)) {
            std::printf("started %zu processes; the next failed with error %lu\n", i, GetLastError());
            break;
        }
        copies.push_back(info);
    }
    return copies;
}

// Whether the window could be given an application id (Wine cannot).
bool give_app_id(HWND window, std::wstring id) {
    olvex::ComPtr<IPropertyStore> store;
    if (FAILED(SHGetPropertyStoreForWindow(window, IID_IPropertyStore, store.put_void()))) return false;
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = id.data();  // the store keeps a copy
    return SUCCEEDED(store->SetValue(PKEY_AppUserModel_ID, value));
}

// Prints the fastest, the median and the slowest of the rounds.
void measure(const char* what, const std::vector<std::uint32_t>& playing, bool new_id_each_round) {
    olvex::volume::ProcessFactGatherer gatherer;
    std::vector<double> milliseconds;
    for (int round = 0; round < ROUNDS; ++round) {
        const std::string app_id = "Bench.Player." + std::to_string(new_id_each_round ? round : 0);
        const auto start = std::chrono::steady_clock::now();
        const auto facts = gatherer.gather(app_id, playing);
        const auto took = std::chrono::steady_clock::now() - start;
        if (facts.empty()) std::printf("no facts gathered\n");
        milliseconds.push_back(std::chrono::duration<double, std::milli>(took).count());
    }
    std::ranges::sort(milliseconds);
    std::printf("%s: fastest %.2f ms, median %.2f ms, slowest %.2f ms (%d rounds)\n", what, milliseconds.front(),
                milliseconds[milliseconds.size() / 2], milliseconds.back(), ROUNDS);
}

}  // namespace

int main() {
    if (FAILED(olvex::join_multithreaded_apartment())) return 1;
    const std::size_t before = running_processes();
    auto copies = start_suspended_copies(PROCESSES > before ? PROCESSES - before : 0);
    std::vector<HWND> windows;
    std::size_t with_ids = 0;
    for (std::size_t i = 0; i < WINDOWS; ++i) {
        windows.push_back(CreateWindowExW(0, L"STATIC", L"window", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                          nullptr, GetModuleHandleW(nullptr), nullptr));
        if (give_app_id(windows.back(), i % 2 == 0 ? L"Bench.Player" : L"Bench.Other")) ++with_ids;
    }

    // Sessions of four copies: their line of descent passes through this
    // program, the owner of every window, so every window's id is read.
    std::vector<std::uint32_t> playing;
    for (std::size_t i = 0; i < copies.size() && i < 4; ++i) playing.push_back(copies[i].dwProcessId);
    std::printf("processes %zu, top-level windows of this program %zu (with an application id %zu)\n",
                running_processes(), windows.size(), with_ids);
    measure("a new application (the shell asked, every window read)", playing, true);
    measure("the same application again (the shell's answer kept)", playing, false);
    measure("no process playing (snapshot and window list only)", {}, false);

    for (HWND window : windows) DestroyWindow(window);
    for (auto& copy : copies) {
        TerminateProcess(copy.hProcess, 0);
        CloseHandle(copy.hThread);
        CloseHandle(copy.hProcess);
    }
    return 0;
}
