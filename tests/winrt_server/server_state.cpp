#include "winrt_server/server_state.hpp"

#include <objbase.h>

#include <thread>
#include <utility>

namespace olvex::test_server {

HRESULT ServerState::enter(const std::string& method) {
    const std::lock_guard lock(mutex_);
    ++calls_[method];
    const auto failure = failures_.find(method);
    if (failure == failures_.end() || failure->second.mode != FailureMode::call) return S_OK;
    const HRESULT code = failure->second.code;
    failures_.erase(failure);
    return code;
}

HRESULT ServerState::operation_failure(const std::string& method) {
    const std::lock_guard lock(mutex_);
    const auto failure = failures_.find(method);
    if (failure == failures_.end() || failure->second.mode != FailureMode::operation) return S_OK;
    const HRESULT code = failure->second.code;
    failures_.erase(failure);
    return code;
}

void ServerState::fail_next(const std::string& method, HRESULT code, FailureMode mode) {
    const std::lock_guard lock(mutex_);
    failures_[method] = {code, mode};
}

void ServerState::set_hanging(const std::string& method, bool hanging) {
    std::vector<std::function<void()>> held;
    {
        const std::lock_guard lock(mutex_);
        const auto found = hanging_.find(method);
        if (hanging) {
            if (found == hanging_.end()) hanging_[method] = {};
            return;
        }
        if (found == hanging_.end()) return;
        held = std::move(found->second);
        hanging_.erase(found);
    }
    for (auto& finish : held) run_on_server_thread(std::move(finish), false);
}

bool ServerState::hold_if_hanging(const std::string& method, std::function<void()>& finish) {
    const std::lock_guard lock(mutex_);
    const auto found = hanging_.find(method);
    if (found == hanging_.end()) return false;
    found->second.push_back(std::move(finish));
    return true;
}

void ServerState::log_command(const std::string& entry) {
    std::function<void(const std::string&)> listener;
    {
        const std::lock_guard lock(mutex_);
        commands_.push_back(entry);
        listener = command_listener_;
    }
    if (listener) listener(entry);
}

void ServerState::log_violation(const std::string& entry) {
    const std::lock_guard lock(mutex_);
    violations_.push_back(entry);
}

void ServerState::set_command_listener(std::function<void(const std::string&)> listener) {
    const std::lock_guard lock(mutex_);
    command_listener_ = std::move(listener);
}

std::vector<std::string> ServerState::commands() const {
    const std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::string> ServerState::violations() const {
    const std::lock_guard lock(mutex_);
    return violations_;
}

std::vector<std::string> ServerState::call_counts() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> entries;
    for (const auto& [method, count] : calls_) entries.push_back(method + "=" + std::to_string(count));
    return entries;
}

void ServerState::reset() {
    std::vector<std::string> hanging;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& entry : hanging_) hanging.push_back(entry.first);
    }
    for (const auto& method : hanging) set_hanging(method, false);
    const std::lock_guard lock(mutex_);
    failures_.clear();
    commands_.clear();
    violations_.clear();
    synchronous_ = false;
    load_limit_ = NO_LOAD_LIMIT;
}

ServerState& state() {
    static ServerState* const instance = new ServerState;  // never destroyed: threads may outlive unloading
    return *instance;
}

namespace {

std::atomic<int> server_threads_running{0};

}  // namespace

void run_on_server_thread(std::function<void()> work, bool wait) {
    ++server_threads_running;
    std::thread thread([work = std::move(work)]() mutable {
        const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        work();
        // What the work captured (an operation, say) goes before the thread
        // counts as ended.
        work = nullptr;
        if (SUCCEEDED(joined)) CoUninitialize();
        --server_threads_running;
    });
    if (wait) {
        thread.join();
    } else {
        thread.detach();
    }
}

bool wait_for_server_threads(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (server_threads_running.load() != 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

HRESULT make_hstring(const std::wstring& text, HSTRING* out) {
    if (out == nullptr) return E_POINTER;
    return WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), out);
}

}  // namespace olvex::test_server
