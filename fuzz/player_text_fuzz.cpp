// libFuzzer target for the texts a media player publishes, on their way into
// a now_playing line for the device.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/messages.hpp"

namespace {

bool starts_code_point(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) != 0x80U; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace olvex::protocol;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view kept = bounded_text(text);
    // A leading part, cut where a code point starts, of at most the set count
    // of code points.
    std::size_t chars = 0;
    for (const char byte : kept) chars += starts_code_point(byte) ? 1U : 0U;
    if (kept.data() != text.data() || chars > MAX_TEXT_CHARS) __builtin_trap();
    if (kept.size() < text.size() && !starts_code_point(text[kept.size()])) __builtin_trap();
    // Whatever the texts, the line keeps within the device's bound.
    const std::string owned(text);
    const std::string line =
        encode_host_message(NowPlaying{PlaybackStatus::playing, owned, owned, owned, -1e300, 1e-300});
    if (line.empty() || line.size() > MAX_LINE_BYTES) __builtin_trap();
    return 0;
}
