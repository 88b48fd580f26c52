#include "device_state.hpp"

#include <algorithm>
#include <variant>

namespace olvex::simulator {
namespace {

struct MessageApplier {
    DeviceState& state;
    Clock::time_point at;

    std::optional<Error> operator()(const protocol::Hello& /*hello*/) const {
        ++state.hellos;
        return std::nullopt;
    }
    std::optional<Error> operator()(const protocol::NowPlaying& playing) const {
        state.now_playing = playing;
        state.now_playing_at = at;
        state.has_now_playing = true;
        return std::nullopt;
    }
    std::optional<Error> operator()(const protocol::Art& art) const {
        state.art = {};
        if (art.data.empty()) return std::nullopt;
        auto picture = art_picture(art.data);
        if (!picture) return picture.error();
        state.art = std::move(*picture);
        return std::nullopt;
    }
    std::optional<Error> operator()(const protocol::Volume& volume) const {
        state.volume = volume;
        return std::nullopt;
    }
    std::optional<Error> operator()(const protocol::Lock& lock) const {
        state.locked = lock.locked;
        return std::nullopt;
    }
};

}  // namespace

std::optional<Error> apply_message(DeviceState& state, const protocol::HostMessage& message, Clock::time_point at) {
    return std::visit(MessageApplier{state, at}, message);
}

double position_at(const DeviceState& state, Clock::time_point now) {
    const protocol::NowPlaying& playing = state.now_playing;
    double position = playing.position_s;
    if (playing.status == protocol::PlaybackStatus::playing && now > state.now_playing_at) {
        position += std::chrono::duration<double>(now - state.now_playing_at).count();
    }
    if (playing.duration_s > 0.0) position = std::min(position, playing.duration_s);
    return std::max(position, 0.0);
}

}  // namespace olvex::simulator
