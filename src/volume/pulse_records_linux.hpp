#pragma once

// Plain copies of what the PulseAudio server reports about sinks, sink inputs
// and clients, taken inside its callbacks so that nothing of the library's own
// memory outlives them; and the conversions between its volumes and levels.

#include <pulse/introspect.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "volume/audio_platform.hpp"
#include "volume/echo_filter.hpp"

namespace olvex::volume::pulse {

// One sink: an output device.
struct SinkRecord {
    std::uint32_t index = 0;
    std::string name;
    StreamVolume volume;
};

// One sink input: a stream an application plays, the counterpart of an audio
// session.
struct StreamRecord {
    std::uint32_t index = 0;
    std::uint32_t sink = 0;
    std::uint8_t channels = 0;
    StreamVolume volume;
    bool corked = false;
    std::uint32_t client = PA_INVALID_INDEX;  // the connection that plays it, where the server says
    std::optional<std::uint32_t> process_id;
    std::optional<std::string> process_binary;  // application.process.binary
    // The sandbox's application id (pipewire.access.portal.app_id), else
    // application.id; reverse-DNS where set.
    std::optional<std::string> application_id;
    // Whether application_id is the sandbox's.
    bool sandboxed = false;
    std::optional<std::string> application_name;
    std::optional<std::string> media_name;
    std::optional<std::string> media_role;
};

// One client: a connection to the server. PipeWire's own clients (those
// that do not speak the PulseAudio protocol) say who they are here and not
// on their streams.
struct ClientRecord {
    std::uint32_t index = 0;
    std::optional<std::uint32_t> process_id;
    std::optional<std::string> process_binary;
    std::optional<std::string> sandbox_application_id;
    std::optional<std::string> application_id;
};

[[nodiscard]] SinkRecord sink_record(const pa_sink_info& info);
[[nodiscard]] StreamRecord stream_record(const pa_sink_input_info& info);
[[nodiscard]] ClientRecord client_record(const pa_client_info& info);

// Whether `stream` leaves out its process or its executable, so that its
// client is worth asking.
[[nodiscard]] bool lacks_process(const StreamRecord& stream);
// Fills in from its client what `stream` leaves out; a sandbox's id on either
// comes before any other application id.
void complete_from_client(StreamRecord& stream, const ClientRecord& client);

// A channel volume as a level to a hundredth of a percent: PA_VOLUME_NORM,
// what mixers show as 100 %, is 1.0; louder volumes read as 1.0, since levels
// end there.
[[nodiscard]] float level_of(std::uint32_t volume);
// A level (0.0 to 1.0, anything else clamped) as a channel volume.
[[nodiscard]] std::uint32_t volume_of(float level);

// A failed request: what was asked, then the library's text for `code` and
// the code as "0x" and eight hex digits.
[[nodiscard]] Error pulse_error(std::string_view what, int code);

}  // namespace olvex::volume::pulse
