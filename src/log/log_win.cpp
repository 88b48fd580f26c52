#include <windows.h>

#include <fmt/format.h>

#include <atomic>
#include <string>
#include <system_error>

#include "base/executable_path_win.hpp"
#include "log/log.hpp"
#include "log/log_platform.hpp"
#include "log/log_win.hpp"

namespace olvex {

namespace {

constexpr const wchar_t* LOG_NAME = L"crash.log";
constexpr const wchar_t* LOCAL_APP_FOLDER = L"OLVEX-Audio-Control";

std::atomic<FolderWriteCheck> folder_write_check_replacement{nullptr};

// Append-only write access: generic write rights without FILE_WRITE_DATA, so
// every write lands at the end of the file and nothing can be overwritten.
constexpr DWORD APPEND_ONLY_ACCESS = 0x120114;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Access rights and read-only attributes alone do not tell (inherited
// permissions, virtual stores, read-only media), so the folder is asked with a
// file that goes away when it is closed.
bool can_create_files_in(const std::filesystem::path& folder) {
    const auto trial = folder / (L"crash.log.trial-" + std::to_wstring(GetCurrentProcessId()));
    const HANDLE file = CreateFileW(trial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool folder_is_writable(const std::filesystem::path& folder) {
    const auto replacement = folder_write_check_replacement.load();
    return replacement != nullptr ? replacement(folder) : can_create_files_in(folder);
}

std::wstring local_app_data() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);  // the size asked for, terminating zero included
    }
}

LONG WINAPI record_unhandled_exception(EXCEPTION_POINTERS* info) {
    const auto* record = info != nullptr ? info->ExceptionRecord : nullptr;
    if (record != nullptr) {
        char text[96];
        const auto result = fmt::format_to_n(text, sizeof text - 1, "unhandled exception 0x{:08X} at {}",
                                             static_cast<unsigned>(record->ExceptionCode),
                                             record->ExceptionAddress);
        *result.out = '\0';
        failure_hook(std::source_location::current(), text);
    } else {
        failure_hook(std::source_location::current(), "unhandled exception");
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

FolderWriteCheck replace_folder_write_check(FolderWriteCheck check) noexcept {
    return folder_write_check_replacement.exchange(check);
}

// Beside the executable a person finds the log without being told; installed
// under Program Files that folder is closed to us and the user's local
// application data takes the log instead.
std::filesystem::path crash_log_path() {
    const std::filesystem::path exe(executable_path());
    const auto beside = exe.has_parent_path() ? exe.parent_path() : std::filesystem::path();
    if (!beside.empty() && folder_is_writable(beside)) return beside / LOG_NAME;
    const std::filesystem::path local = local_app_data();
    if (!local.is_absolute()) return beside / LOG_NAME;
    const auto folder = local / LOCAL_APP_FOLDER;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder / LOG_NAME;
}

namespace log_platform {

std::uint64_t wall_clock_unix_seconds() noexcept {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return unix_seconds_from_file_time(ticks);
}

void append_to_file(const std::filesystem::path& path, std::string_view bytes) noexcept {
    HANDLE file = CreateFileW(path.c_str(), APPEND_ONLY_ACCESS, SHARE_ALL, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) break;
        bytes.remove_prefix(written);
    }
    CloseHandle(file);
}

void install_fault_handlers() noexcept {
    SetUnhandledExceptionFilter(&record_unhandled_exception);
    // No "program stopped working" box for a program without a window.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace log_platform
}  // namespace olvex
