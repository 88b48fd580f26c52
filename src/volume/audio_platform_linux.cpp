// The audio seam over PulseAudio (PipeWire's pulse server answers as well).
//
// Devices are sinks, the default device is the default sink, and an audio
// session is a sink input: a stream an application plays. A session's level
// is its average channel volume on the scale where PA_VOLUME_NORM (what
// mixers show as 100 %) is 1.0, read to a hundredth of a percent, and a new
// level goes to every channel alike. The server knows no event contexts, so
// the echo of this program's own changes is recognised by the backend's
// EchoFilter. A server that restarts is reached again (PulseLink).

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "volume/audio_platform.hpp"
#include "volume/echo_filter.hpp"
#include "volume/process_tree_linux.hpp"
#include "volume/pulse_connection_linux.hpp"
#include "volume/pulse_link_linux.hpp"

namespace olvex::volume {

namespace {

using pulse::PulseConnection;
using pulse::PulseLink;
using pulse::StreamRecord;

// Levels the server rescales (a stream whose volume follows its sink's) may
// come back a few units off what was set; a hundredth of a percent is still
// the same level.
constexpr std::uint32_t ECHO_LEVEL_TOLERANCE = 8;

// Event sounds are the counterpart of the system sounds session.
constexpr const char* EVENT_SOUND_ROLE = "event";

class PulseRegistration final : public Registration {
public:
    PulseRegistration(std::shared_ptr<PulseConnection> connection, int key)
        : connection_(std::move(connection)), key_(key) {}
    ~PulseRegistration() override {
        connection_->with_events([&](pulse::PulseEvents& events) { events.unwatch(key_); });
    }
    PulseRegistration(const PulseRegistration&) = delete;
    PulseRegistration& operator=(const PulseRegistration&) = delete;

private:
    std::shared_ptr<PulseConnection> connection_;
    int key_;
};

template <typename Watch>
AudioResult<RegistrationPtr> registered(const std::shared_ptr<PulseConnection>& connection, Watch&& watch) {
    const int key = connection->with_events(std::forward<Watch>(watch));
    return std::make_unique<PulseRegistration>(connection, key);
}

// One sink input, as it was when its sink's sessions were listed.
class PulseSession final : public AudioSession {
public:
    PulseSession(std::shared_ptr<PulseConnection> connection, StreamRecord record)
        : connection_(std::move(connection)), record_(std::move(record)) {}

    AudioResult<AudioSessionState> state() override {
        return record_.corked ? AudioSessionState::inactive : AudioSessionState::active;
    }
    AudioResult<bool> is_system_sounds_session() override { return record_.media_role == EVENT_SOUND_ROLE; }
    AudioResult<std::uint32_t> process_id() override {
        if (!record_.process_id) return make_error("the sink input names no process");
        return *record_.process_id;
    }
    AudioResult<std::string> session_identifier() override { return record_.application_name.value_or(""); }
    AudioResult<std::string> session_instance_identifier() override { return record_.media_name.value_or(""); }

    AudioResult<float> level() override { return pulse::level_of(record_.volume.level); }
    AudioResult<bool> muted() override { return record_.volume.muted; }

    AudioResult<void> set_level(float level, const EventContext& context) override {
        const StreamVolume wanted{pulse::volume_of(level), record_.volume.muted};
        return change(wanted, context, [&] {
            return connection_->set_stream_volume(record_.index, record_.channels, wanted.level);
        });
    }

    AudioResult<void> set_muted(bool muted, const EventContext& context) override {
        const StreamVolume wanted{record_.volume.level, muted};
        return change(wanted, context, [&] { return connection_->set_stream_mute(record_.index, muted); });
    }

    AudioResult<RegistrationPtr> register_events(std::shared_ptr<SessionEventSink> sink) override {
        return registered(connection_, [&](pulse::PulseEvents& events) {
            return events.watch_stream(record_.index, record_.volume, std::move(sink));
        });
    }

private:
    // The echo is expected before the request goes out: the server may
    // announce the change before it answers the request.
    template <typename Request>
    AudioResult<void> change(StreamVolume wanted, const EventContext& context, Request&& request) {
        connection_->echoes().expect(record_.index, wanted, context, EchoFilter::Clock::now());
        auto done = request();
        if (done) record_.volume = wanted;
        return done;
    }

    std::shared_ptr<PulseConnection> connection_;
    StreamRecord record_;
};

class PulseSessionManager final : public AudioSessionManager {
public:
    PulseSessionManager(std::shared_ptr<PulseConnection> connection, std::uint32_t sink)
        : connection_(std::move(connection)), sink_(sink) {}

    AudioResult<std::vector<AudioSessionPtr>> sessions() override {
        auto streams = connection_->streams();
        if (!streams) return std::unexpected(std::move(streams.error()));
        std::vector<AudioSessionPtr> found;
        for (auto& record : *streams) {
            if (record.sink == sink_) found.push_back(std::make_unique<PulseSession>(connection_, std::move(record)));
        }
        return found;
    }

    AudioResult<RegistrationPtr> register_session_creation(std::shared_ptr<SessionCreationSink> sink) override {
        return registered(connection_, [&](pulse::PulseEvents& events) {
            return events.watch_new_streams(sink_, std::move(sink));
        });
    }

private:
    std::shared_ptr<PulseConnection> connection_;
    std::uint32_t sink_;
};

class PulseEndpointVolume final : public EndpointVolume {
public:
    PulseEndpointVolume(std::shared_ptr<PulseConnection> connection, std::uint32_t sink)
        : connection_(std::move(connection)), sink_(sink) {}

    AudioResult<float> master_level() override {
        auto sink = connection_->sink(sink_);
        if (!sink) return std::unexpected(std::move(sink.error()));
        return pulse::level_of(sink->volume.level);
    }

    AudioResult<bool> muted() override {
        auto sink = connection_->sink(sink_);
        if (!sink) return std::unexpected(std::move(sink.error()));
        return sink->volume.muted;
    }

    AudioResult<RegistrationPtr> register_changes(std::shared_ptr<EndpointVolumeSink> sink) override {
        auto now = connection_->sink(sink_);
        if (!now) return std::unexpected(std::move(now.error()));
        return registered(connection_, [&](pulse::PulseEvents& events) {
            return events.watch_sink_volume(sink_, now->volume, std::move(sink));
        });
    }

private:
    std::shared_ptr<PulseConnection> connection_;
    std::uint32_t sink_;
};

class PulseDevice final : public AudioDevice {
public:
    PulseDevice(std::shared_ptr<PulseConnection> connection, std::uint32_t sink)
        : connection_(std::move(connection)), sink_(sink) {}

    AudioResult<std::unique_ptr<AudioSessionManager>> session_manager() override {
        return std::make_unique<PulseSessionManager>(connection_, sink_);
    }
    AudioResult<std::unique_ptr<EndpointVolume>> endpoint_volume() override {
        return std::make_unique<PulseEndpointVolume>(connection_, sink_);
    }

private:
    std::shared_ptr<PulseConnection> connection_;
    std::uint32_t sink_;
};

class DeviceRegistration final : public Registration {
public:
    DeviceRegistration(std::shared_ptr<pulse::DeviceSinks> sinks, int key) : sinks_(std::move(sinks)), key_(key) {}
    ~DeviceRegistration() override { sinks_->remove(key_); }
    DeviceRegistration(const DeviceRegistration&) = delete;
    DeviceRegistration& operator=(const DeviceRegistration&) = delete;

private:
    std::shared_ptr<pulse::DeviceSinks> sinks_;
    int key_;
};

// Every call goes to the server through the link's current connection, so the
// system outlives a restart of the server; the devices it hands out stay with
// the connection that listed them.
class PulseAudioSystem final : public AudioSystem {
public:
    explicit PulseAudioSystem(std::shared_ptr<PulseLink> link) : link_(std::move(link)) {}

    AudioResult<std::vector<AudioDevicePtr>> active_render_devices() override {
        auto connection = link_->connection();
        if (!connection) return std::unexpected(std::move(connection.error()));
        auto sinks = (*connection)->sinks();
        if (!sinks) return std::unexpected(std::move(sinks.error()));
        std::vector<AudioDevicePtr> devices;
        for (const auto& sink : *sinks) devices.push_back(std::make_unique<PulseDevice>(*connection, sink.index));
        return devices;
    }

    AudioResult<AudioDevicePtr> default_render_device() override {
        auto connection = link_->connection();
        if (!connection) return std::unexpected(std::move(connection.error()));
        auto sink = (*connection)->default_sink();
        if (!sink) return std::unexpected(std::move(sink.error()));
        return std::make_unique<PulseDevice>(std::move(*connection), sink->index);
    }

    // Needs no server: the sinks are kept across connections.
    AudioResult<RegistrationPtr> register_endpoint_notifications(
        std::shared_ptr<EndpointNotificationSink> sink) override {
        const int key = link_->devices()->add(std::move(sink));
        return std::make_unique<DeviceRegistration>(link_->devices(), key);
    }

    // What the process's own streams say: the sandbox's application id (a
    // Flatpak's, which is its desktop entry) stands in for the application
    // user model id, application.process.binary for the executable.
    ProcessIdentity process_identity(std::uint32_t process_id) override {
        auto connection = link_->connection();
        if (!connection) return {};
        return (*connection)->process_identity(process_id);
    }

    // The processes' own names come from their streams; their ancestors are
    // known by number and start time only, so a name never picks a process
    // that plays nothing itself.
    // A process missing from /proc (another namespace's) is still known by
    // what its streams say.
    std::vector<ProcessFacts> process_facts(const std::string&, std::span<const std::uint32_t> processes) override {
        auto lineage = process_lineage(processes);
        for (const std::uint32_t id : processes) {
            auto found = std::ranges::find(lineage, id, &ProcessFacts::id);
            if (found == lineage.end()) found = lineage.insert(lineage.end(), ProcessFacts{.id = id, .executable = {}});
            auto identity = process_identity(id);
            found->executable = identity.executable_name.value_or("");
            found->package_app_id = std::move(identity.app_user_model_id);
        }
        return lineage;
    }

private:
    std::shared_ptr<PulseLink> link_;
};

// The volume worker and the volume watcher each open the audio system; both
// get the one link while either holds it, so that the program keeps a single
// socket and loop thread, the watcher hears the echoes of the worker's changes
// through the same echo filter, and a connection opened anew by either serves
// both. Once neither holds it, the next opening starts a new link.
class PulseAudioBackend final : public AudioBackend {
public:
    AudioResult<void> join_multithreaded_apartment() override { return {}; }

    AudioResult<EventContext> make_event_context() override {
        std::random_device random;
        EventContext context;
        for (auto& byte : context.bytes) byte = static_cast<std::uint8_t>(random());
        return context;
    }

    // Fails when no server answers now.
    AudioResult<std::shared_ptr<AudioSystem>> open_audio_system() override {
        auto link = shared_link();
        if (auto connection = link->connection(); !connection) return std::unexpected(std::move(connection.error()));
        return std::make_shared<PulseAudioSystem>(std::move(link));
    }

private:
    std::shared_ptr<PulseLink> shared_link() {
        const std::lock_guard lock(mutex_);
        auto link = link_.lock();
        if (!link) {
            link = std::make_shared<PulseLink>(echoes_);
            link_ = link;
        }
        return link;
    }

    std::shared_ptr<EchoFilter> echoes_ = std::make_shared<EchoFilter>(ECHO_WINDOW, ECHO_LEVEL_TOLERANCE);
    std::mutex mutex_;
    std::weak_ptr<PulseLink> link_;
};

}  // namespace

std::shared_ptr<AudioBackend> platform_audio_backend() { return std::make_shared<PulseAudioBackend>(); }

}  // namespace olvex::volume
