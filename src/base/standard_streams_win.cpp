#include "base/standard_streams.hpp"

#include <windows.h>

#include <algorithm>

namespace olvex {

namespace {

// Straight to the handle: the C runtime's text mode would turn "\n" into "\r\n".
void write_all(DWORD which, std::string_view bytes) noexcept {
    const HANDLE stream = GetStdHandle(which);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;  // a program without a console
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
        if (!WriteFile(stream, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

}  // namespace

void write_to_standard_error(std::string_view bytes) noexcept { write_all(STD_ERROR_HANDLE, bytes); }

void write_to_standard_output(std::string_view bytes) noexcept { write_all(STD_OUTPUT_HANDLE, bytes); }

void prepare_standard_streams() noexcept {
    // Nothing to do: Windows hands out no handle numbers that could collide
    // with the standard streams, and a broken pipe is an ordinary error.
}

}  // namespace olvex
