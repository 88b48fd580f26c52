#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace olvex {

// The value of the environment variable `name` as UTF-8, read now; nothing
// when it is unset or its value is not valid Unicode. Defined per platform.
[[nodiscard]] std::optional<std::string> environment_variable(std::string_view name);

}  // namespace olvex
