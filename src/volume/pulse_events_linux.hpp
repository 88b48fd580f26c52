#pragma once

// Turns the PulseAudio server's change announcements into calls of the audio
// seam's sinks.
//
// The server announces only that something changed (facility, kind, index);
// the details are asked for again, without waiting, from the loop thread, and
// the sinks are called from the answer. A stream moved onto a sink counts as
// a new session there, as it would be had it started there; so does a stream
// whose client is announced new or changed, since the client may only then
// name the process that plays it. A stream or sink "change" is announced for
// many reasons (a new track title, corking, moving), so a volume sink only
// hears of a change of level or mute. The server carries no event context: a
// stream change that looks like the echo of one of this program's own changes
// is tagged with that change's context; every other change comes with none.
//
// Everything here runs with the main loop locked: callbacks on the loop thread
// hold its lock, and every other caller takes it first. Device events go to
// DeviceSinks instead, which outlive any one connection.

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "volume/audio_platform.hpp"
#include "volume/echo_filter.hpp"
#include "volume/pulse_records_linux.hpp"

namespace olvex::volume::pulse {

// The sinks told of device events. They are registered once, whichever
// connection is current, and hear of every connection the program opens.
// Sinks are called outside the lock, so one may be called just after it was
// removed.
class DeviceSinks {
public:
    [[nodiscard]] int add(std::shared_ptr<EndpointNotificationSink> sink);
    void remove(int key);
    void default_changed();
    void device_event(DeviceEventKind kind);

private:
    [[nodiscard]] std::vector<std::shared_ptr<EndpointNotificationSink>> copies() const;

    mutable std::mutex mutex_;
    int next_key_ = 1;
    std::map<int, std::shared_ptr<EndpointNotificationSink>> sinks_;
};

class PulseEvents {
public:
    PulseEvents(std::shared_ptr<EchoFilter> echoes, std::shared_ptr<DeviceSinks> devices)
        : echoes_(std::move(echoes)), devices_(std::move(devices)) {}
    PulseEvents(const PulseEvents&) = delete;
    PulseEvents& operator=(const PulseEvents&) = delete;

    // Where the announcements of `context` go; the caller subscribes.
    void attach(pa_context* context);

    // Each watch yields a key for `unwatch`. `now` is the volume known at the
    // time of watching, the first one a change is measured against.
    [[nodiscard]] int watch_stream(std::uint32_t stream, StreamVolume now, std::shared_ptr<SessionEventSink> sink);
    [[nodiscard]] int watch_new_streams(std::uint32_t sink_index, std::shared_ptr<SessionCreationSink> sink);
    [[nodiscard]] int watch_sink_volume(std::uint32_t sink_index, StreamVolume now,
                                        std::shared_ptr<EndpointVolumeSink> sink);
    void unwatch(int key);

    // What a client said of itself, as last read; kept until the client is
    // announced changed or gone.
    [[nodiscard]] std::optional<ClientRecord> known_client(std::uint32_t index) const;
    void remember_client(ClientRecord client);

    // The default sink's name as last seen, against which server changes are
    // measured.
    void set_default_sink(std::string name) { default_sink_ = std::move(name); }

    // The connection broke: every watched stream is disconnected for good,
    // and every registration made on it is dead. The device sinks hear of a
    // new default device, as if the old one had gone, so that whoever watches
    // registers anew (through the next connection).
    void connection_lost();

private:
    struct StreamWatch {
        std::uint32_t stream;
        std::optional<StreamVolume> last;
        std::shared_ptr<SessionEventSink> sink;
    };
    struct CreationWatch {
        std::uint32_t sink_index;
        std::shared_ptr<SessionCreationSink> sink;
    };
    struct SinkVolumeWatch {
        std::uint32_t sink_index;
        std::optional<StreamVolume> last;
        std::shared_ptr<EndpointVolumeSink> sink;
    };

    static void on_event(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self);
    static void on_new_stream(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
    static void on_changed_stream(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
    static void on_changed_sink(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void on_server(pa_context* context, const pa_server_info* info, void* self);

    void stream_event(pa_context* context, unsigned kind, std::uint32_t index);
    void sink_event(pa_context* context, unsigned kind, std::uint32_t index);
    void client_event(unsigned kind, std::uint32_t index);
    void session_arrived(std::uint32_t sink_index);
    void stream_moved(const StreamRecord& record);
    void stream_changed(std::uint32_t stream, StreamVolume volume);
    void stream_removed(std::uint32_t stream);
    void sink_changed(std::uint32_t sink_index, StreamVolume volume);
    void server_changed(const char* default_sink);
    [[nodiscard]] bool watches_stream(std::uint32_t stream) const;
    [[nodiscard]] bool watches_sink_volume(std::uint32_t sink_index) const;

    std::shared_ptr<EchoFilter> echoes_;
    std::shared_ptr<DeviceSinks> devices_;
    std::string default_sink_;
    int next_key_ = 1;
    std::map<int, StreamWatch> streams_;
    std::map<int, CreationWatch> creations_;
    std::map<int, SinkVolumeWatch> sink_volumes_;
    struct StreamPlace {
        std::uint32_t sink_index;
        std::uint32_t client;
    };
    std::map<std::uint32_t, StreamPlace> stream_places_;  // where each stream seen since plays, and for whom
    std::map<std::uint32_t, ClientRecord> clients_;
};

}  // namespace olvex::volume::pulse
