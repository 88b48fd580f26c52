#include "protocol/line_buffer.hpp"

#include "base/text.hpp"

namespace olvex::protocol {

void LineBuffer::append(std::string_view chunk) {
    bytes_.append(chunk);
    if (bytes_.size() > max_pending_ && bytes_.find('\n') == std::string::npos) bytes_.clear();
}

std::optional<std::string> LineBuffer::take_line() {
    const auto end = bytes_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = sanitize_utf8(std::string_view(bytes_).substr(0, end));
    bytes_.erase(0, end + 1);
    while (line.ends_with('\r')) line.pop_back();
    return line;
}

}  // namespace olvex::protocol
