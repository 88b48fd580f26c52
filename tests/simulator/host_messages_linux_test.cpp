#include "host_messages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace olvex::simulator {
namespace {

using protocol::HostMessage;

std::string without_line_feed(std::string line) {
    line.pop_back();
    return line;
}

TEST(DecodeHostMessage, ReadsBackEveryKindTheProgramWrites) {
    const std::vector<HostMessage> messages = {
        protocol::Hello{},
        protocol::NowPlaying{protocol::PlaybackStatus::playing, "Ti\"tle\t\x01", "Art\\ist", "Älbum", 12.5, 240.0},
        protocol::NowPlaying{},
        protocol::Art{"AAAA"},
        protocol::Art{""},
        protocol::volume_message(0.3F, true),
        protocol::Lock{true},
    };
    for (const auto& message : messages) {
        const std::string line = without_line_feed(protocol::encode_host_message(message));
        const auto decoded = decode_host_message(line);
        ASSERT_TRUE(decoded.has_value()) << line << ": " << decoded.error().message;
        EXPECT_EQ(*decoded, message) << line;
        EXPECT_TRUE(is_canonical(line, *decoded)) << line;
    }
}

TEST(DecodeHostMessage, RefusesLinesTheDeviceCannotUse) {
    for (const char* line : {
             "",
             "not json",
             R"(["hello"])",
             R"({"event":"hello"} x)",
             R"({"type":"hello"})",
             R"({"event":"Hello"})",
             R"({"event":"now_playing","status":"playing","title":"a","artist":"b","album":"c","position_s":1})",
             R"({"event":"now_playing","status":"jumping","title":"a","artist":"b","album":"c","position_s":1,"duration_s":2})",
             R"({"event":"now_playing","status":"playing","title":1,"artist":"b","album":"c","position_s":1,"duration_s":2})",
             R"({"event":"art","data":null})",
             R"({"event":"volume","volume":"50","muted":false})",
             R"({"event":"volume","volume":50,"muted":0})",
             R"({"event":"lock"})",
         }) {
        EXPECT_FALSE(decode_host_message(line).has_value()) << line;
    }
}

TEST(DecodeHostMessage, AcceptsButFlagsLinesWrittenDifferently) {
    for (const char* line : {
             R"({"locked":true,"event":"lock"})",
             R"({"event":"lock","locked":true,"extra":1})",
             R"({"event": "lock", "locked": true})",
             R"({"event":"volume","volume":50,"muted":false})",
         }) {
        const auto decoded = decode_host_message(line);
        ASSERT_TRUE(decoded.has_value()) << line;
        EXPECT_FALSE(is_canonical(line, *decoded)) << line;
    }
}

TEST(EncodeDeviceEvent, WritesLinesTheProgramDecodesToTheSameEvent) {
    const std::vector<protocol::DeviceEvent> events = {
        protocol::HelloAck{"1.0 \"beta\"", "pad\\1"},
        protocol::PlayPause{},
        protocol::Next{},
        protocol::Previous{},
        protocol::Seek{73.25},
        protocol::SeekRelative{0.5},
        protocol::SetVolume{42.0},
        protocol::SetMute{true},
        protocol::SetLock{false},
        protocol::Resync{15},
    };
    for (const auto& event : events) {
        const std::string line = encode_device_event(event);
        ASSERT_TRUE(line.ends_with("}\n")) << line;
        EXPECT_TRUE(line.starts_with(R"({"event":")")) << line;
        const auto decoded = protocol::decode_device_event(line);
        ASSERT_TRUE(decoded.has_value()) << line;
        EXPECT_EQ(*decoded, event) << line;
    }
    EXPECT_EQ(encode_device_event(protocol::Seek{7.0}), "{\"event\":\"seek\",\"position_s\":7.0}\n");
}

}  // namespace
}  // namespace olvex::simulator
