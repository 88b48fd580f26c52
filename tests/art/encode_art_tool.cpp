// Prints the art text of each picture file named on the command line, one line
// each ("-" when the file gives no art), for comparison with other resizers.
//
//     encode_art_tool [--decode-min-width N] FILE...
//
// --decode-min-width replaces the width the decoder is asked to keep, to see
// what a different reduced decoding would change.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "art/art.hpp"
#include "art/picture.hpp"

namespace {

std::optional<std::vector<std::uint8_t>> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::optional<std::string> convert(const std::vector<std::uint8_t>& bytes, std::optional<std::uint32_t> min_width) {
    if (!min_width) return olvex::art::encode_art(bytes);
    const auto picture = olvex::art::decode_picture(bytes, *min_width);
    if (!picture) return std::nullopt;
    return olvex::art::encode_picture(*picture);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::uint32_t> min_width;
    int first = 1;
    if (argc > 2 && std::string_view(argv[1]) == "--decode-min-width") {
        min_width = static_cast<std::uint32_t>(std::stoul(argv[2]));
        first = 3;
    }
    if (first >= argc) {
        std::fputs("usage: encode_art_tool [--decode-min-width N] FILE...\n", stderr);
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        const auto bytes = read_file(argv[i]);
        if (!bytes) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const auto text = convert(*bytes, min_width);
        std::puts(text ? text->c_str() : "-");
    }
    return 0;
}
