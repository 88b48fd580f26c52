// libFuzzer target for the device line decoder.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_event.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto event = olvex::protocol::decode_device_event(line);

    // A line ending the device session may leave behind must not change the outcome.
    std::string with_ending(line);
    with_ending += "\r\n";
    const auto again = olvex::protocol::decode_device_event(with_ending);
    if (event.has_value() != again.has_value() || (event && !(*event == *again))) __builtin_trap();
    if (!event && event.error().message.empty()) __builtin_trap();
    return 0;
}
