#pragma once

// Windows Runtime strings (HSTRING) as the rest of the program sees them.

#include <hstring.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "media/media_platform.hpp"
#include "media/winrt_object_win.hpp"

namespace olvex::media::winrt {

// The text of `text` as UTF-8; an unpaired surrogate becomes U+FFFD and a
// null HSTRING (the Windows Runtime's empty string) gives "".
[[nodiscard]] std::string utf8_from_hstring(HSTRING text);

// Owns one HSTRING and deletes it when it goes.
class HString {
public:
    HString() = default;
    explicit HString(HSTRING owned) : text_(owned) {}
    HString(const HString&) = delete;
    HString& operator=(const HString&) = delete;
    HString(HString&& other) noexcept;
    HString& operator=(HString&& other) noexcept;
    ~HString();

    [[nodiscard]] HSTRING get() const { return text_; }
    // Deletes the string held now and gives the slot for an out parameter.
    [[nodiscard]] HSTRING* put();

private:
    HSTRING text_ = nullptr;
};

// A new HSTRING holding a copy of `text`.
[[nodiscard]] PlatformResult<HString> make_hstring(std::wstring_view text);

// Reads a string through a getter such as get_Title and converts it.
template <class Object>
[[nodiscard]] PlatformResult<std::string> get_text(Object& object,
                                                   HRESULT (STDMETHODCALLTYPE Object::*getter)(HSTRING*)) {
    HString text;
    if (const HRESULT hr = (object.*getter)(text.put()); FAILED(hr)) return failure(hr);
    return utf8_from_hstring(text.get());
}

}  // namespace olvex::media::winrt
