#include "base/platform_error_win.hpp"

#include <windows.h>

#include <fmt/format.h>

#include <cstdint>
#include <string_view>

#include "base/text.hpp"

namespace olvex {

namespace {

// The system's text for a message number, without the line break (and any
// other white space) it ends with; empty when there is none.
std::string message_text(DWORD message_id) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        message_id, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return {};
    std::string message = utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
    LocalFree(text);
    while (!message.empty() && std::string_view(" \t\r\n").find(message.back()) != std::string_view::npos)
        message.pop_back();
    return message;
}

std::string with_code(const std::string& message, HRESULT hr) {
    const auto code = fmt::format("(0x{:08X})", static_cast<std::uint32_t>(hr));
    return message.empty() ? code : message + " " + code;
}

}  // namespace

std::string describe_win32_error(unsigned long code) {
    return with_code(message_text(code), HRESULT_FROM_WIN32(code));
}

std::string describe_hresult(long hr) {
    // FormatMessage knows the Win32 errors by their own numbers only.
    const auto id = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(hr))
                                                           : static_cast<DWORD>(hr);
    return with_code(message_text(id), hr);
}

}  // namespace olvex
