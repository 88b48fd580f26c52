#include <cstdlib>
#include <string>

#include "base/environment.hpp"
#include "base/text.hpp"

namespace olvex {

namespace {

// Sanitising replaces every ill-formed sequence with U+FFFD, which is itself
// well-formed, so the text comes back unchanged exactly when it was valid.
bool is_valid_utf8(std::string_view bytes) { return sanitize_utf8(bytes) == bytes; }

}  // namespace

std::optional<std::string> environment_variable(std::string_view name) {
    const std::string name_text(name);
    const char* value = std::getenv(name_text.c_str());
    if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
    return std::string(value);
}

}  // namespace olvex
