#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace olvex::protocol {

// A line longer than this that is still missing its line feed is thrown away.
inline constexpr std::size_t MAX_PENDING_LINE = 8192;

// Cuts the bytes received from the device into lines.
class LineBuffer {
public:
    explicit LineBuffer(std::size_t max_pending = MAX_PENDING_LINE) : max_pending_(max_pending) {}

    // Adds received bytes. When the buffer then holds more than the limit and
    // no line feed at all, everything is dropped, `chunk` included: the
    // device is sending something that is not lines.
    void append(std::string_view chunk);

    // The next complete line, without its line feed and trailing carriage
    // returns, with invalid UTF-8 replaced by U+FFFD; nothing when no line is
    // complete yet.
    [[nodiscard]] std::optional<std::string> take_line();

    [[nodiscard]] std::size_t size() const noexcept { return bytes_.size(); }

private:
    std::string bytes_;
    std::size_t max_pending_;
};

}  // namespace olvex::protocol
