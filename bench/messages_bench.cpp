// Encoding and decoding costs of the device lines.

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/messages.hpp"

namespace {

using namespace olvex::protocol;

// Base64 text of a 128 by 128 picture: 16384 bytes become 21848 characters.
std::string art_data() {
    constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string data;
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < 21846; ++i) {
        state = state * 1664525U + 1013904223U;
        data += ALPHABET[state >> 26U];
    }
    return data + "==";
}

void encode_art(benchmark::State& state) {
    const HostMessage message = Art{art_data()};
    for (auto _ : state) {
        std::string line = encode_host_message(message);
        benchmark::DoNotOptimize(line);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(encode_host_message(message).size()));
}
BENCHMARK(encode_art);

void encode_now_playing(benchmark::State& state) {
    const HostMessage message = NowPlaying{PlaybackStatus::playing, "Bohemian Rhapsody \"Remastered 2011\"", "Queen",
                                           "A Night at the Opera", 123.456789, 354.947};
    for (auto _ : state) {
        std::string line = encode_host_message(message);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(encode_now_playing);

void encode_volume(benchmark::State& state) {
    const HostMessage message = volume_message(0.3F, false);
    for (auto _ : state) {
        std::string line = encode_host_message(message);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(encode_volume);

constexpr std::array<std::string_view, 6> DEVICE_LINES = {
    "{\"event\":\"play_pause\"}\n",
    "{\"event\":\"seek\",\"position_s\":73.25}\n",
    "{\"event\":\"set_volume\",\"volume\":42}\n",
    "{\"event\":\"hello_ack\",\"version\":\"1.4.2\",\"device\":\"olvex-knob\"}\r\n",
    "{\"event\":\"resync\",\"what\":15}\n",
    "[\"seek\",12.5]\n",
};

void decode(benchmark::State& state) {
    const std::string_view line = DEVICE_LINES[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(line.substr(0, line.find_first_of("\r\n"))));
    for (auto _ : state) {
        auto event = decode_device_event(line);
        benchmark::DoNotOptimize(event);
    }
}
BENCHMARK(decode)->DenseRange(0, DEVICE_LINES.size() - 1);

}  // namespace

BENCHMARK_MAIN();
