#pragma once

#include <expected>
#include <string>
#include <utility>

namespace olvex {

// An ordinary failure, described for a person. Operations that can fail for
// ordinary reasons return std::expected<T, Error>; exceptions are kept for bugs
// and exhaustion.
struct Error {
    std::string message;
};

[[nodiscard]] inline std::unexpected<Error> make_error(std::string message) {
    return std::unexpected<Error>(Error{std::move(message)});
}

}  // namespace olvex
