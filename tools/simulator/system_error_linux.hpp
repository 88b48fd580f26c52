#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fmt/format.h>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace olvex::simulator {

// "<what>: <system message> (0x0000000N)" for the errno value `code`.
[[nodiscard]] inline Error system_error(std::string_view what, int code = errno) {
    return Error{fmt::format("{}: {} (0x{:08X})", what, std::strerror(code), static_cast<std::uint32_t>(code))};
}

}  // namespace olvex::simulator
