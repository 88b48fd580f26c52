#include "media/winrt_string_win.hpp"

#include <winstring.h>

#include <string_view>
#include <utility>

#include "base/text.hpp"

namespace olvex::media::winrt {

std::string utf8_from_hstring(HSTRING text) {
    if (text == nullptr) return {};
    UINT32 length = 0;
    const wchar_t* units = WindowsGetStringRawBuffer(text, &length);
    if (units == nullptr) return {};
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(units), length));
}

HString::HString(HString&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}

HString& HString::operator=(HString&& other) noexcept {
    if (this != &other) {
        WindowsDeleteString(text_);
        text_ = std::exchange(other.text_, nullptr);
    }
    return *this;
}

HString::~HString() { WindowsDeleteString(text_); }

HSTRING* HString::put() {
    WindowsDeleteString(std::exchange(text_, nullptr));
    return &text_;
}

PlatformResult<HString> make_hstring(std::wstring_view text) {
    HString made;
    if (const HRESULT hr = WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), made.put()); FAILED(hr)) {
        return failure(hr);
    }
    return made;
}

}  // namespace olvex::media::winrt
