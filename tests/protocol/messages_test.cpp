#include "protocol/messages.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <type_traits>
#include <variant>

#include "protocol/json_number.hpp"

namespace olvex::protocol {

// Readable failure output for decoded events.
void PrintTo(const DeviceEvent& event, std::ostream* os) {
    *os << wire_name(event);
    std::visit(
        [os](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, HelloAck>) *os << " " << e.version << "/" << e.device;
            if constexpr (std::is_same_v<E, Seek>) *os << " " << e.position_s;
            if constexpr (std::is_same_v<E, SeekRelative>) *os << " " << e.position;
            if constexpr (std::is_same_v<E, SetVolume>) *os << " " << e.volume;
            if constexpr (std::is_same_v<E, SetMute>) *os << " " << e.muted;
            if constexpr (std::is_same_v<E, SetLock>) *os << " " << e.locked;
            if constexpr (std::is_same_v<E, Resync>) *os << " " << int{e.what};
        },
        event);
}

namespace {

constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

std::string number(double value) {
    std::string out;
    format_json_number(value, out);
    return out;
}

std::string art_line(const std::string& data) { return encode_host_message(Art{data}); }

TEST(EncodeHostMessage, WritesEachKindExactly) {
    const NowPlaying song{PlaybackStatus::paused, "Song", "Band", "X", 12.5, 240.0};
    const struct {
        HostMessage message;
        std::string line;
    } cases[] = {
        {Hello{}, "{\"event\":\"hello\"}\n"},
        {song,
         R"({"event":"now_playing","status":"paused","title":"Song","artist":"Band","album":"X","position_s":12.5,"duration_s":240.0})"
         "\n"},
        {NowPlaying{},
         R"({"event":"now_playing","status":"none","title":"","artist":"","album":"","position_s":0.0,"duration_s":0.0})"
         "\n"},
        {NowPlaying{PlaybackStatus::playing, "a", "b", "c", NAN_VALUE, INF},
         R"({"event":"now_playing","status":"playing","title":"a","artist":"b","album":"c","position_s":0.0,"duration_s":0.0})"
         "\n"},
        {NowPlaying{PlaybackStatus::stopped, "", "", "", -INF, 1e20},
         R"({"event":"now_playing","status":"stopped","title":"","artist":"","album":"","position_s":0.0,"duration_s":1e20})"
         "\n"},
        {Art{}, "{\"event\":\"art\",\"data\":\"\"}\n"},
        {Art{"iVBORw0KGgo+/="}, "{\"event\":\"art\",\"data\":\"iVBORw0KGgo+/=\"}\n"},
        {volume_message(0.3F, false), "{\"event\":\"volume\",\"volume\":30.0,\"muted\":false}\n"},
        {volume_message(0.4F, false), "{\"event\":\"volume\",\"volume\":40.0,\"muted\":false}\n"},
        {volume_message(0.7F, false), "{\"event\":\"volume\",\"volume\":70.0,\"muted\":false}\n"},
        {volume_message(0.12345F, false), "{\"event\":\"volume\",\"volume\":12.35,\"muted\":false}\n"},
        {volume_message(0.5F, true), "{\"event\":\"volume\",\"volume\":50.0,\"muted\":true}\n"},
        {Lock{true}, "{\"event\":\"lock\",\"locked\":true}\n"},
        {Lock{false}, "{\"event\":\"lock\",\"locked\":false}\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode_host_message(c.message), c.line);
    }
}

TEST(EncodeHostMessage, EscapesOnlyQuoteBackslashAndControlBytes) {
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"say \"hi\"", R"(say \"hi\")"},
        {"a\\b", R"(a\\b)"},
        {"\b\t\n\f\r", R"(\b\t\n\f\r)"},
        {std::string("\x00\x01\x1f", 3), R"(\u0000\u0001\u001f)"},
        {"tab\there\x01", R"(tab\there\u0001)"},
        {"\x7f/</", "\x7f/</"},
        {"Motörhead – 東京 🎵", "Motörhead – 東京 🎵"},
        {"\xff\xfe", "\xff\xfe"},  // bytes are not validated, only escaped
    };
    for (const auto& c : cases) {
        EXPECT_EQ(art_line(c.text), "{\"event\":\"art\",\"data\":\"" + c.json + "\"}\n") << c.json;
    }
}

TEST(EncodeHostMessage, BuildsTheFullSizeArtLine) {
    const std::string data(21848, 'A');
    EXPECT_EQ(art_line(data), "{\"event\":\"art\",\"data\":\"" + data + "\"}\n");
}

std::string repeated(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

// Texts are cut at whole code points, by count and by escaped size, and even
// the worst of them keeps the line within its bound.
TEST(EncodeHostMessage, CutsTextsAndBoundsTheLine) {
    const struct {
        std::string text;
        std::string kept;
    } cases[] = {
        {"Song", "Song"},
        {repeated("a", 300), repeated("a", 256)},
        {repeated("\xC3\xB6", 300), repeated("\xC3\xB6", 256)},               // two-byte code points
        {repeated("\xF0\x9F\x8E\xB5", 300), repeated("\xF0\x9F\x8E\xB5", 256)},  // four-byte, 1024 bytes
        {repeated("\x01", 300), repeated("\x01", 170)},                       // \u0001 each: 1020 bytes
        {repeated("\"", 300), repeated("\"", 256)},
        {repeated("\x01", 170) + "\xC3\xA9\xF0\x9F\x8E\xB5", repeated("\x01", 170) + "\xC3\xA9"},  // not inside
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bounded_text(c.text), c.kept) << c.text.size();
        const std::string line = encode_host_message(NowPlaying{PlaybackStatus::playing, c.text, "", "", 1, 2});
        EXPECT_EQ(line, encode_host_message(NowPlaying{PlaybackStatus::playing, c.kept, "", "", 1, 2}));
    }
    const std::string worst = repeated("\x01", 5000);
    const std::string line =
        encode_host_message(NowPlaying{PlaybackStatus::stopped, worst, worst, worst, -1e-300, 1e300});
    EXPECT_GT(line.size(), 3000U);
    EXPECT_LE(line.size(), MAX_LINE_BYTES);
}

TEST(EncodeHostMessage, ReportsFailureAndReturnsNothing) {
    testing::internal::CaptureStderr();
    const std::string line = encode_host_message(NowPlaying{static_cast<PlaybackStatus>(9), "t", "a", "b", 1, 2});
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(line, "");
    EXPECT_NE(log.find("device: could not encode now_playing: "), std::string::npos) << log;
}

TEST(FormatJsonNumber, WritesTheDeviceNumberForms) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {240.0, "240.0"},
        {12.5, "12.5"},
        {-2.5, "-2.5"},
        {0.1, "0.1"},
        {0.00042, "0.00042"},
        {1234567.0, "1234567.0"},
        {1e-5, "0.00001"},
        {1.25e-5, "0.0000125"},
        {9.99e-6, "9.99e-6"},
        {1e-7, "1e-7"},
        {1.5e-7, "1.5e-7"},
        {-1.5e-7, "-1.5e-7"},
        {1e15, "1000000000000000.0"},
        {9999999999999998.0, "9999999999999998.0"},
        {1e16, "1e16"},
        {-1e16, "-1e16"},
        {1.2345e20, "1.2345e20"},
        {123456789012345680.0, "1.2345678901234568e17"},
        {1e100, "1e100"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {0.30000000000000004, "0.30000000000000004"},
        {static_cast<double>(0.3F) * 100.0, "30.000001192092896"},
        {NAN_VALUE, "0.0"},
        {INF, "0.0"},
        {-INF, "0.0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(number(c.value), c.text) << c.value;
    }
}

// Any finite double must read back exactly and follow the layout rules.
TEST(FormatJsonNumber, RoundTripsAndFollowsTheLayoutForRandomDoubles) {
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = random();
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        if (i % 2 == 1) value = std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(bits % 100));
        if (!std::isfinite(value)) continue;

        const std::string text = number(value);
        const double back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;

        const std::size_t e = text.find('e');
        const double magnitude = std::fabs(value);
        if (magnitude == 0.0 || (magnitude >= 1e-5 && magnitude < 1e16)) {
            ASSERT_EQ(e, std::string::npos) << text;
            ASSERT_NE(text.find('.'), std::string::npos) << text;
        } else {
            ASSERT_NE(e, std::string::npos) << text;
            const std::string exponent = text.substr(e + 1);
            ASSERT_EQ(exponent.find('+'), std::string::npos) << text;
            ASSERT_NE(exponent[exponent[0] == '-' ? 1 : 0], '0') << text;
            const std::size_t dot = text.find('.');
            ASSERT_TRUE(dot == std::string::npos || e - dot > 1) << text;
            ASSERT_NE(text[e - 1], '0') << text;  // shortest: no trailing zeros
        }
    }
}

TEST(DecodeDeviceEvent, AcceptsValidLines) {
    const struct {
        std::string line;
        DeviceEvent event;
    } cases[] = {
        {R"({"event":"next","extra":[1,2]})", Next{}},
        {R"({"extra":1,"event":"play_pause"})", PlayPause{}},
        {R"({"event":"previous","muted":"x","nested":{"event":"stop","a":[{}]}})", Previous{}},
        {R"({"event":"hello_ack"})", HelloAck{}},
        {R"({"event":"hello_ack","version":"1.2","device":"pad"})", HelloAck{"1.2", "pad"}},
        {R"({"device":"pad","event":"hello_ack"})", HelloAck{"", "pad"}},
        {R"({"event":"hello_ack","version":"\u00e9\ud83c\udfb5"})", HelloAck{"é🎵", ""}},
        {R"({"event":"seek","position_s":42})", Seek{42.0}},
        {R"({"event":"seek","position_s":-3.5e0})", Seek{-3.5}},
        {R"({"event":"seek","position_s":1e20})", Seek{1e20}},
        {R"({"event":"seek","position_s":18446744073709551615})", Seek{18446744073709551615.0}},
        {R"({"event":"seek","position_s":123456789012345678901234567890})", Seek{1.2345678901234568e29}},
        {R"({"event":"seek_relative","position":0.25})", SeekRelative{0.25}},
        {R"({"event":"set_volume","volume":50})", SetVolume{50.0}},
        {R"({"event":"set_mute","muted":true})", SetMute{true}},
        {R"({"event":"set_lock","locked":false})", SetLock{false}},
        {R"({"event":"resync","what":15})", Resync{15}},
        {R"({"event":"resync","what":0})", Resync{0}},
        {R"({"event":"resync","what":255})", Resync{255}},
        // Members of other events, and unknown members, may repeat freely.
        {R"({"event":"next","volume":"x"})", Next{}},
        {R"({"event":"seek","position_s":1,"volume":"x","volume":2,"x":1,"x":{}})", Seek{1.0}},
        {R"({"event":"set_mute","muted":false,"inner":{"muted":1,"muted":2}})", SetMute{false}},
        {R"({"event":"seek","position_s":2,"Position_s":"x"})", Seek{2.0}},
        {R"({"\u0065vent":"next"})", Next{}},
        {" \t{ \"event\" : \"next\" }\t ", Next{}},
        {R"(["seek", 7])", Seek{7.0}},
        {R"(["next"])", Next{}},
        {R"(["hello_ack"])", HelloAck{}},
        {R"(["hello_ack","1.2"])", HelloAck{"1.2", ""}},
        {R"(["hello_ack","1.2","pad"])", HelloAck{"1.2", "pad"}},
        {R"(["resync",3])", Resync{3}},
        {R"(["set_lock",true])", SetLock{true}},
    };
    for (const auto& c : cases) {
        for (const char* ending : {"", "\n", "\r", "\r\n"}) {
            const auto decoded = decode_device_event(c.line + ending);
            ASSERT_TRUE(decoded.has_value()) << c.line << " : " << decoded.error().message;
            EXPECT_EQ(*decoded, c.event) << c.line;
        }
    }
}

TEST(DecodeDeviceEvent, RejectsInvalidLines) {
    const std::string rejected[] = {
        "", "\r\n", "   ",
        // no such event, or no event at all
        R"({"event":"Next"})", R"({"event":"stop"})", R"({"type":"next"})", R"({})", R"({"event":1})",
        R"({"event":null})", R"({"event":["next"]})", R"({"x":{"event":"next"}})",
        // text after the value
        R"({"event":"next"}x)", R"({"event":"next"}{})", R"({"event":"next"},)", "{\"event\":\"next\"}\r\nx",
        std::string("{\"event\":\"next\"}\0", 17),
        // missing, mistyped and out-of-range members
        R"({"event":"seek"})", R"({"event":"seek","position_s":null})", R"({"event":"seek","position_s":[1]})",
        R"({"event":"set_volume","volume":"50"})", R"({"event":"set_mute","muted":1})",
        R"({"event":"set_lock","locked":"true"})", R"({"event":"hello_ack","version":1})",
        R"({"event":"resync"})", R"({"event":"resync","what":256})", R"({"event":"resync","what":-1})",
        R"({"event":"resync","what":3.0})", R"({"event":"resync","what":1e1})", R"({"event":"resync","what":"3"})",
        R"({"event":"resync","what":18446744073709551616})", R"({"event":"seek","position_s":1e400})",
        // duplicates
        R"({"event":"next","event":"next"})", R"({"event":"seek","position_s":1,"position_s":1})",
        R"({"event":"hello_ack","version":"1","device":"a","version":"1"})",
        // array form
        "[]", R"([1])", R"(["Seek",1])", R"(["seek"])", R"(["seek",1,2])", R"(["seek","1"])", R"(["next",1])",
        R"(["hello_ack","a","b","c"])", R"(["hello_ack",1])", R"(["resync",3.0])", R"([["next"]])",
        // not an object or array, or not JSON
        R"("next")", "42", "null", "true", R"({"event":"next",})", R"({'event':'next'})", R"({"event":"next")",
        R"({"event":"next"/**/})", R"({"event":"seek","position_s":NaN})", "\xEF\xBB\xBF{\"event\":\"next\"}",
        R"({"event":"hello_ack","version":"\ud800"})", "{\"event\":\"hello_ack\",\"version\":\"\xff\"}",
        "{\"event\":\"hello_ack\",\"version\":\"a\tb\"}", std::string(100000, '['),
    };
    for (const auto& line : rejected) {
        const auto decoded = decode_device_event(line);
        EXPECT_FALSE(decoded.has_value()) << line;
        if (!decoded) {
            EXPECT_FALSE(decoded.error().message.empty()) << line;
        }
    }
}

// The outer value is level 1; level 127 is the deepest accepted.
std::string nested(int levels) {
    std::string inner;  // arrays and objects by turns, an array innermost
    for (int i = levels - 1; i >= 1; --i) inner += i % 2 == 1 ? "[" : "{\"a\":";
    for (int i = 1; i < levels; ++i) inner += i % 2 == 1 ? "]" : "}";
    return R"({"event":"set_mute","x":)" + (levels > 1 ? inner : "0") + R"(,"muted":true})";
}

TEST(DecodeDeviceEvent, LimitsNestingTo127Levels) {
    const auto deepest = decode_device_event(nested(127));
    ASSERT_TRUE(deepest.has_value()) << deepest.error().message;
    EXPECT_EQ(*deepest, DeviceEvent{SetMute{true}});
    EXPECT_FALSE(decode_device_event(nested(128)).has_value());
}

}  // namespace
}  // namespace olvex::protocol
