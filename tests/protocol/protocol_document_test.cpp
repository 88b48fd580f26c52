// The example lines of docs/protocol.md, which firmware authors write their
// side of the protocol from, are what this program writes and reads.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocol/messages.hpp"

namespace olvex::protocol {
namespace {

// What one example line is: a message the program writes for these values,
// an event that decodes to this value, or a line the program drops.
struct ToDevice {
    HostMessage message;
};
struct FromDevice {
    DeviceEvent event;
};
struct Dropped {};
using Example = std::variant<ToDevice, FromDevice, Dropped>;

// The fenced blocks' info strings, in the order of Example's alternatives.
constexpr std::array<std::string_view, 3> BLOCK_KINDS = {"json to-device", "json from-device", "json dropped"};

// Every example of the document, in the document's order.
const std::vector<Example> EXAMPLES = {
    ToDevice{Hello{}},
    ToDevice{NowPlaying{PlaybackStatus::playing, "Caf\xC3\xA9 \"Live\"", "The Example Band", "Dawn", 73.25, 241.0}},
    ToDevice{Art{}},
    ToDevice{volume_message(0.3f, false)},
    ToDevice{Lock{true}},
    FromDevice{HelloAck{"1.4.2", "olvex-knob"}},
    FromDevice{PlayPause{}},
    FromDevice{Next{}},
    FromDevice{Previous{}},
    FromDevice{Seek{73.25}},
    FromDevice{SeekRelative{0.5}},
    FromDevice{SetVolume{40.0}},
    FromDevice{SetMute{true}},
    FromDevice{SetLock{false}},
    FromDevice{Resync{15}},
    FromDevice{Seek{12.5}},
    Dropped{}, Dropped{}, Dropped{}, Dropped{}, Dropped{}, Dropped{},
};

// The lines of the document's marked fenced blocks, each with its block's kind.
std::vector<std::pair<std::size_t, std::string>> document_examples() {
    std::ifstream document(OLVEX_SOURCE_DIR "/docs/protocol.md");
    EXPECT_TRUE(document.is_open());
    std::vector<std::pair<std::size_t, std::string>> found;
    std::optional<std::size_t> block;
    for (std::string line; std::getline(document, line);) {
        if (line.starts_with("```")) {
            block.reset();
            for (std::size_t kind = 0; kind < BLOCK_KINDS.size(); ++kind) {
                if (line == "```" + std::string(BLOCK_KINDS[kind])) block = kind;
            }
        } else if (block && !line.empty()) {
            found.emplace_back(*block, line);
        }
    }
    return found;
}

TEST(ProtocolDocument, EveryExampleIsWhatTheProgramWritesOrReads) {
    const auto found = document_examples();
    ASSERT_EQ(found.size(), EXAMPLES.size()) << "an example was added to or taken from the document, or moved";
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto& [kind, line] = found[i];
        SCOPED_TRACE(line);
        ASSERT_EQ(BLOCK_KINDS[kind], BLOCK_KINDS[EXAMPLES[i].index()]) << "example " << i + 1;
        if (const auto* to_device = std::get_if<ToDevice>(&EXAMPLES[i])) {
            EXPECT_EQ(encode_host_message(to_device->message), line + "\n");
        } else {
            const auto decoded = decode_device_event(line);
            const auto* from_device = std::get_if<FromDevice>(&EXAMPLES[i]);
            EXPECT_EQ(decoded.has_value(), from_device != nullptr);
            if (decoded && from_device) {
                EXPECT_TRUE(*decoded == from_device->event) << "decoded as " << wire_name(*decoded);
            }
        }
    }
}

}  // namespace
}  // namespace olvex::protocol
