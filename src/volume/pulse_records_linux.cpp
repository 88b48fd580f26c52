#include "volume/pulse_records_linux.hpp"

#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/volume.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

namespace olvex::volume::pulse {

namespace {

// Set by PipeWire on the streams of a Flatpak sandbox: the sandbox's
// application id, which is its desktop entry and which the sandboxed client
// cannot forge.
constexpr const char* PORTAL_APPLICATION_ID = "pipewire.access.portal.app_id";

// The process at the other end of a client's socket, as PipeWire learnt it
// from the kernel.
constexpr const char* PEER_PROCESS_ID = "pipewire.sec.pid";

// Marks the clients of PipeWire's PulseAudio server. Their socket's other end
// is that server, so their peer process is the server's own, never the
// application's.
constexpr const char* CLIENT_API = "client.api";
constexpr std::string_view PULSE_SERVER_API = "pipewire-pulse";

std::optional<std::string> property(const pa_proplist* properties, const char* key) {
    if (properties == nullptr) return std::nullopt;
    const char* value = pa_proplist_gets(properties, key);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::optional<std::uint32_t> process_id_of(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::uint32_t id = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), id);
    if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return id;
}

StreamVolume stream_volume(const pa_cvolume& volume, int mute) {
    const bool valid = pa_cvolume_valid(&volume) != 0;
    return StreamVolume{valid ? static_cast<std::uint32_t>(pa_cvolume_avg(&volume)) : 0, mute != 0};
}

}  // namespace

SinkRecord sink_record(const pa_sink_info& info) {
    SinkRecord record;
    record.index = info.index;
    record.name = info.name != nullptr ? info.name : "";
    record.volume = stream_volume(info.volume, info.mute);
    return record;
}

StreamRecord stream_record(const pa_sink_input_info& info) {
    StreamRecord record;
    record.index = info.index;
    record.sink = info.sink;
    record.channels = info.volume.channels;
    record.volume = stream_volume(info.volume, info.mute);
    record.corked = info.corked != 0;
    record.client = info.client;
    record.process_id = process_id_of(property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID));
    record.process_binary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    record.application_id = property(info.proplist, PORTAL_APPLICATION_ID);
    record.sandboxed = record.application_id.has_value();
    if (!record.application_id) record.application_id = property(info.proplist, PA_PROP_APPLICATION_ID);
    record.application_name = property(info.proplist, PA_PROP_APPLICATION_NAME);
    record.media_name = property(info.proplist, PA_PROP_MEDIA_NAME);
    if (!record.media_name && info.name != nullptr) record.media_name = std::string(info.name);
    record.media_role = property(info.proplist, PA_PROP_MEDIA_ROLE);
    return record;
}

// A client that names no process of its own is taken to be the process at
// the other end of its socket, unless that end is PipeWire's PulseAudio
// server.
ClientRecord client_record(const pa_client_info& info) {
    ClientRecord record;
    record.index = info.index;
    record.process_id = process_id_of(property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID));
    if (!record.process_id && property(info.proplist, CLIENT_API) != PULSE_SERVER_API) {
        record.process_id = process_id_of(property(info.proplist, PEER_PROCESS_ID));
    }
    record.process_binary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    record.sandbox_application_id = property(info.proplist, PORTAL_APPLICATION_ID);
    record.application_id = property(info.proplist, PA_PROP_APPLICATION_ID);
    return record;
}

bool lacks_process(const StreamRecord& stream) { return !stream.process_id || !stream.process_binary; }

void complete_from_client(StreamRecord& stream, const ClientRecord& client) {
    if (!stream.process_id) stream.process_id = client.process_id;
    if (!stream.process_binary) stream.process_binary = client.process_binary;
    if (stream.sandboxed) return;
    if (client.sandbox_application_id) {
        stream.application_id = client.sandbox_application_id;
        stream.sandboxed = true;
    } else if (!stream.application_id) {
        stream.application_id = client.application_id;
    }
}

// A level set here becomes the nearest channel volume, 1/65536 apart; read
// back unrounded, 0.4 would be 0.39999 and show as 39 % wherever percentages
// are cut off. Rounded to a hundredth of a percent, every level of that
// precision, and every percentage a mixer sets, reads back as it was set.
float level_of(std::uint32_t volume) {
    constexpr double STEPS = 10000.0;
    const double level = std::round(static_cast<double>(volume) * STEPS / static_cast<double>(PA_VOLUME_NORM)) / STEPS;
    return static_cast<float>(std::min(level, 1.0));
}

std::uint32_t volume_of(float level) {
    const double clamped = std::isnan(level) ? 0.0 : std::clamp(static_cast<double>(level), 0.0, 1.0);
    return static_cast<std::uint32_t>(std::lround(clamped * static_cast<double>(PA_VOLUME_NORM)));
}

Error pulse_error(std::string_view what, int code) {
    return Error{fmt::format("{}: {} (0x{:08X})", what, pa_strerror(code), static_cast<std::uint32_t>(code))};
}

}  // namespace olvex::volume::pulse
