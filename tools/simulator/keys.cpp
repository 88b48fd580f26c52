#include "keys.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace olvex::simulator {
namespace {

constexpr char ESCAPE = '\x1b';
constexpr char CONTROL_C = '\x03';
constexpr char CONTROL_D = '\x04';

constexpr std::array<std::pair<std::string_view, Key>, 14> NAMED_KEYS = {{
    {"space", {Action::play_pause}},
    {"n", {Action::next}},
    {"p", {Action::previous}},
    {"left", {Action::seek_back}},
    {"right", {Action::seek_forward}},
    {"up", {Action::volume_up}},
    {"down", {Action::volume_down}},
    {"+", {Action::volume_up}},
    {"-", {Action::volume_down}},
    {"m", {Action::mute}},
    {"l", {Action::lock}},
    {"r", {Action::resync}},
    {"q", {Action::quit}},
    {"Q", {Action::quit}},
}};

std::optional<Key> key_for_byte(char byte) {
    if (byte >= '0' && byte <= '9') return Key{Action::seek_tenth, byte - '0'};
    switch (byte) {
        case ' ': return Key{Action::play_pause};
        case 'n': case 'N': return Key{Action::next};
        case 'p': case 'P': return Key{Action::previous};
        case '+': case '=': return Key{Action::volume_up};
        case '-': case '_': return Key{Action::volume_down};
        case 'm': case 'M': return Key{Action::mute};
        case 'l': case 'L': return Key{Action::lock};
        case 'r': case 'R': return Key{Action::resync};
        case 'q': case 'Q': case CONTROL_C: case CONTROL_D: return Key{Action::quit};
        default: return std::nullopt;
    }
}

std::optional<Key> key_for_arrow(char final_byte) {
    switch (final_byte) {
        case 'A': return Key{Action::volume_up};
        case 'B': return Key{Action::volume_down};
        case 'C': return Key{Action::seek_forward};
        case 'D': return Key{Action::seek_back};
        default: return std::nullopt;
    }
}

// The length of the escape sequence at the start of `bytes` (ESC [ ...
// final, or ESC O final), 0 if it is not complete yet.
std::size_t escape_length(std::string_view bytes) {
    if (bytes.size() < 2) return 0;
    if (bytes[1] == 'O') return bytes.size() >= 3 ? 3 : 0;
    if (bytes[1] != '[') return 1;  // a lone escape: drop it
    for (std::size_t i = 2; i < bytes.size(); ++i) {
        if (bytes[i] >= '@' && bytes[i] <= '~') return i + 1;
    }
    return 0;
}

double rounded_volume(const DeviceState& state) { return state.volume ? std::round(state.volume->volume) : 0.0; }

protocol::DeviceEvent seek_by(const DeviceState& state, Clock::time_point now, double step) {
    double target = std::max(position_at(state, now) + step, 0.0);
    if (state.now_playing.duration_s > 0.0) target = std::min(target, state.now_playing.duration_s);
    return protocol::Seek{target};
}

protocol::DeviceEvent volume_by(const DeviceState& state, double step) {
    return protocol::SetVolume{std::clamp(rounded_volume(state) + step, 0.0, 100.0)};
}

}  // namespace

std::vector<Key> KeyReader::feed(std::string_view bytes) {
    pending_ += bytes;
    std::vector<Key> keys;
    std::size_t at = 0;
    while (at < pending_.size()) {
        const std::string_view rest = std::string_view(pending_).substr(at);
        if (rest.front() != ESCAPE) {
            if (auto key = key_for_byte(rest.front())) keys.push_back(*key);
            ++at;
            continue;
        }
        const std::size_t length = escape_length(rest);
        if (length == 0) break;
        if (auto key = key_for_arrow(rest[length - 1]); key && length > 1) keys.push_back(*key);
        at += length;
    }
    pending_.erase(0, at);
    return keys;
}

std::optional<Key> key_named(std::string_view name) {
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return Key{Action::seek_tenth, name[0] - '0'};
    const auto* found = std::ranges::find(NAMED_KEYS, name, &std::pair<std::string_view, Key>::first);
    if (found == NAMED_KEYS.end()) return std::nullopt;
    return found->second;
}

std::optional<protocol::DeviceEvent> event_for_key(const Key& key, const DeviceState& state, Clock::time_point now) {
    switch (key.action) {
        case Action::play_pause: return protocol::PlayPause{};
        case Action::next: return protocol::Next{};
        case Action::previous: return protocol::Previous{};
        case Action::seek_back: return seek_by(state, now, -SEEK_STEP_S);
        case Action::seek_forward: return seek_by(state, now, SEEK_STEP_S);
        case Action::seek_tenth: return protocol::SeekRelative{key.tenth / 10.0};
        case Action::volume_up: return volume_by(state, VOLUME_STEP);
        case Action::volume_down: return volume_by(state, -VOLUME_STEP);
        case Action::mute: return protocol::SetMute{!(state.volume && state.volume->muted)};
        case Action::lock: return protocol::SetLock{!state.locked.value_or(false)};
        case Action::resync:
            return protocol::Resync{static_cast<std::uint8_t>(protocol::resync_what::NOW_PLAYING | protocol::resync_what::ART |
                                                            protocol::resync_what::VOLUME | protocol::resync_what::LOCK)};
        case Action::quit: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace olvex::simulator
