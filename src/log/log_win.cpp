#include <windows.h>

#include <fmt/format.h>

#include <string>

#include "log/log.hpp"
#include "log/log_platform.hpp"

namespace olvex {

namespace {

constexpr const wchar_t* LOG_NAME = L"crash.log";

// Append-only write access: generic write rights without FILE_WRITE_DATA, so
// every write lands at the end of the file and nothing can be overwritten.
constexpr DWORD APPEND_ONLY_ACCESS = 0x120114;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 32768) return {};  // longer than any Windows path
        buffer.resize(buffer.size() * 2);
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

std::filesystem::path crash_log_path() {
    const std::filesystem::path exe(executable_path());
    if (exe.empty() || !exe.has_parent_path()) return LOG_NAME;
    return exe.parent_path() / LOG_NAME;
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
