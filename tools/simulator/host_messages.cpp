#include "host_messages.hpp"

#include <array>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <variant>

#include "protocol/json_number.hpp"

namespace olvex::simulator {
namespace {

using Json = nlohmann::json;
using protocol::HostMessage;

std::expected<const Json*, Error> member(const Json& object, std::string_view name) {
    const auto found = object.find(name);
    if (found == object.end()) return make_error(fmt::format("\"{}\" is missing", name));
    return &*found;
}

std::expected<std::string, Error> string_member(const Json& object, std::string_view name) {
    auto value = member(object, name);
    if (!value) return std::unexpected(value.error());
    if (!(*value)->is_string()) return make_error(fmt::format("\"{}\" is not a string", name));
    return (*value)->get<std::string>();
}

std::expected<double, Error> number_member(const Json& object, std::string_view name) {
    auto value = member(object, name);
    if (!value) return std::unexpected(value.error());
    if (!(*value)->is_number()) return make_error(fmt::format("\"{}\" is not a number", name));
    return (*value)->get<double>();
}

std::expected<bool, Error> boolean_member(const Json& object, std::string_view name) {
    auto value = member(object, name);
    if (!value) return std::unexpected(value.error());
    if (!(*value)->is_boolean()) return make_error(fmt::format("\"{}\" is not true or false", name));
    return (*value)->get<bool>();
}

std::optional<protocol::PlaybackStatus> parse_status(std::string_view text) {
    using protocol::PlaybackStatus;
    if (text == "playing") return PlaybackStatus::playing;
    if (text == "paused") return PlaybackStatus::paused;
    if (text == "stopped") return PlaybackStatus::stopped;
    if (text == "none") return PlaybackStatus::none;
    return std::nullopt;
}

std::expected<HostMessage, Error> decode_now_playing(const Json& object) {
    auto status_text = string_member(object, "status");
    if (!status_text) return std::unexpected(status_text.error());
    const auto status = parse_status(*status_text);
    if (!status) return make_error(fmt::format("\"status\" {} is not a play state", *status_text));
    auto title = string_member(object, "title");
    auto artist = string_member(object, "artist");
    auto album = string_member(object, "album");
    auto position = number_member(object, "position_s");
    auto duration = number_member(object, "duration_s");
    for (const Error* error : {title ? nullptr : &title.error(), artist ? nullptr : &artist.error(),
                               album ? nullptr : &album.error()}) {
        if (error) return std::unexpected(*error);
    }
    if (!position) return std::unexpected(position.error());
    if (!duration) return std::unexpected(duration.error());
    return protocol::NowPlaying{.status = *status,
                              .title = std::move(*title),
                              .artist = std::move(*artist),
                              .album = std::move(*album),
                              .position_s = *position,
                              .duration_s = *duration};
}

std::expected<HostMessage, Error> decode_art(const Json& object) {
    auto data = string_member(object, "data");
    if (!data) return std::unexpected(data.error());
    return protocol::Art{.data = std::move(*data)};
}

std::expected<HostMessage, Error> decode_volume(const Json& object) {
    auto volume = number_member(object, "volume");
    if (!volume) return std::unexpected(volume.error());
    auto muted = boolean_member(object, "muted");
    if (!muted) return std::unexpected(muted.error());
    return protocol::Volume{.volume = *volume, .muted = *muted};
}

std::expected<HostMessage, Error> decode_lock(const Json& object) {
    auto locked = boolean_member(object, "locked");
    if (!locked) return std::unexpected(locked.error());
    return protocol::Lock{.locked = *locked};
}

std::expected<HostMessage, Error> decode_kind(std::string_view kind, const Json& object) {
    if (kind == "hello") return protocol::Hello{};
    if (kind == "now_playing") return decode_now_playing(object);
    if (kind == "art") return decode_art(object);
    if (kind == "volume") return decode_volume(object);
    if (kind == "lock") return decode_lock(object);
    return make_error(fmt::format("\"{}\" is not a message the device knows", kind));
}

void write_string(std::string_view text, std::string& out) {
    out += Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

void write_number(std::string_view name, double value, std::string& out) {
    out += fmt::format(",\"{}\":", name);
    protocol::format_json_number(value, out);
}

void write_boolean(std::string_view name, bool value, std::string& out) {
    out += fmt::format(",\"{}\":{}", name, value ? "true" : "false");
}

struct MemberWriter {
    std::string& out;

    void operator()(const protocol::HelloAck& ack) const {
        out += ",\"version\":";
        write_string(ack.version, out);
        out += ",\"device\":";
        write_string(ack.device, out);
    }
    void operator()(const protocol::PlayPause& /*event*/) const {}
    void operator()(const protocol::Next& /*event*/) const {}
    void operator()(const protocol::Previous& /*event*/) const {}
    void operator()(const protocol::Seek& seek) const { write_number("position_s", seek.position_s, out); }
    void operator()(const protocol::SeekRelative& seek) const { write_number("position", seek.position, out); }
    void operator()(const protocol::SetVolume& volume) const { write_number("volume", volume.volume, out); }
    void operator()(const protocol::SetMute& mute) const { write_boolean("muted", mute.muted, out); }
    void operator()(const protocol::SetLock& lock) const { write_boolean("locked", lock.locked, out); }
    void operator()(const protocol::Resync& resync) const { out += fmt::format(",\"what\":{}", resync.what); }
};

}  // namespace

std::expected<HostMessage, Error> decode_host_message(std::string_view line) {
    const Json parsed = Json::parse(line, nullptr, false);
    if (parsed.is_discarded()) return make_error("not one JSON value");
    if (!parsed.is_object()) return make_error("not a JSON object");
    auto kind = string_member(parsed, "event");
    if (!kind) return std::unexpected(kind.error());
    return decode_kind(*kind, parsed);
}

bool is_canonical(std::string_view line, const HostMessage& message) {
    const std::string expected = protocol::encode_host_message(message);
    return std::string_view(expected).substr(0, expected.size() - 1) == line;
}

std::string encode_device_event(const protocol::DeviceEvent& event) {
    std::string out = "{\"event\":";
    write_string(protocol::wire_name(event), out);
    std::visit(MemberWriter{out}, event);
    out += "}\n";
    return out;
}

protocol::HelloAck simulator_hello_ack() { return {.version = "0.1.0", .device = "olvex-simulator"}; }

}  // namespace olvex::simulator
