// libFuzzer target for the cover-art address a media player publishes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "media/mpris_values_linux.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const auto path = olvex::media::mpris::local_file_path(url);
    if (!path) return 0;
    // Only whole absolute paths may come out: a NUL would cut the path short
    // when it is opened, and a relative one would depend on our own folder.
    const std::string text = path->string();
    if (text.find('\0') != std::string::npos || !path->is_absolute()) __builtin_trap();
    return 0;
}
