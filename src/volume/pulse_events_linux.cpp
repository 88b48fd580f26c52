#include "volume/pulse_events_linux.hpp"

#include <set>
#include <utility>
#include <vector>

#include "base/failure.hpp"
#include "volume/pulse_records_linux.hpp"

namespace olvex::volume::pulse {

namespace {

constexpr std::int32_t RENDER_FLOW = 0;
constexpr std::int32_t CONSOLE_ROLE = 0;

// Master volume notifications carry a context; the server gives none, and
// this program never changes a master volume, so every one is someone else's.
constexpr EventContext SOMEONE_ELSES{};

// The answer is not waited for; an operation that could not be started only
// costs this one notification.
void forget_operation(pa_operation* operation) {
    if (operation != nullptr) pa_operation_unref(operation);
}

// The library's threads must never see an exception.
template <typename Sink, typename Call>
void call_each(const std::vector<std::shared_ptr<Sink>>& sinks, Call&& call) {
    for (const auto& sink : sinks) run_guarded([&] { call(*sink); });
}

}  // namespace

int DeviceSinks::add(std::shared_ptr<EndpointNotificationSink> sink) {
    const std::lock_guard lock(mutex_);
    sinks_.emplace(next_key_, std::move(sink));
    return next_key_++;
}

void DeviceSinks::remove(int key) {
    const std::lock_guard lock(mutex_);
    sinks_.erase(key);
}

void DeviceSinks::default_changed() {
    call_each(copies(),
              [](EndpointNotificationSink& sink) { sink.on_default_device_changed(RENDER_FLOW, CONSOLE_ROLE); });
}

void DeviceSinks::device_event(DeviceEventKind kind) {
    call_each(copies(), [&](EndpointNotificationSink& sink) { sink.on_device_event(kind); });
}

std::vector<std::shared_ptr<EndpointNotificationSink>> DeviceSinks::copies() const {
    std::vector<std::shared_ptr<EndpointNotificationSink>> sinks;
    const std::lock_guard lock(mutex_);
    for (const auto& [key, sink] : sinks_) sinks.push_back(sink);
    return sinks;
}

void PulseEvents::attach(pa_context* context) { pa_context_set_subscribe_callback(context, &on_event, this); }

int PulseEvents::watch_stream(std::uint32_t stream, StreamVolume now, std::shared_ptr<SessionEventSink> sink) {
    streams_.emplace(next_key_, StreamWatch{stream, now, std::move(sink)});
    return next_key_++;
}

int PulseEvents::watch_new_streams(std::uint32_t sink_index, std::shared_ptr<SessionCreationSink> sink) {
    creations_.emplace(next_key_, CreationWatch{sink_index, std::move(sink)});
    return next_key_++;
}

int PulseEvents::watch_sink_volume(std::uint32_t sink_index, StreamVolume now,
                                   std::shared_ptr<EndpointVolumeSink> sink) {
    sink_volumes_.emplace(next_key_, SinkVolumeWatch{sink_index, now, std::move(sink)});
    return next_key_++;
}

void PulseEvents::unwatch(int key) {
    streams_.erase(key);
    creations_.erase(key);
    sink_volumes_.erase(key);
}

void PulseEvents::connection_lost() {
    std::vector<std::shared_ptr<SessionEventSink>> sinks;
    for (const auto& [key, watch] : streams_) sinks.push_back(watch.sink);
    call_each(sinks, [](SessionEventSink& sink) { sink.on_session_disconnected(); });
    devices_->default_changed();
}

void PulseEvents::on_event(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
    auto& events = *static_cast<PulseEvents*>(self);
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
        events.stream_event(context, kind, index);
        break;
    case PA_SUBSCRIPTION_EVENT_SINK:
        events.sink_event(context, kind, index);
        break;
    case PA_SUBSCRIPTION_EVENT_CLIENT:
        events.client_event(kind, index);
        break;
    case PA_SUBSCRIPTION_EVENT_SERVER:
        forget_operation(pa_context_get_server_info(context, &on_server, self));
        break;
    default:
        break;
    }
}

void PulseEvents::stream_event(pa_context* context, unsigned kind, std::uint32_t index) {
    if (kind == PA_SUBSCRIPTION_EVENT_NEW && !creations_.empty()) {
        forget_operation(pa_context_get_sink_input_info(context, index, &on_new_stream, this));
    } else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE && (watches_stream(index) || !creations_.empty())) {
        forget_operation(pa_context_get_sink_input_info(context, index, &on_changed_stream, this));
    } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        stream_removed(index);
    }
}

void PulseEvents::sink_event(pa_context* context, unsigned kind, std::uint32_t index) {
    if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
        devices_->device_event(DeviceEventKind::added);
    } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        devices_->device_event(DeviceEventKind::removed);
    } else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE && watches_sink_volume(index)) {
        forget_operation(pa_context_get_sink_info_by_index(context, index, &on_changed_sink, this));
    }
}

// A client announced after its stream, or one whose properties change, may
// only now say which process plays the stream.
void PulseEvents::client_event(unsigned kind, std::uint32_t index) {
    clients_.erase(index);
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) return;
    std::set<std::uint32_t> sinks;
    for (const auto& [stream, place] : stream_places_) {
        if (place.client == index) sinks.insert(place.sink_index);
    }
    for (const auto sink_index : sinks) session_arrived(sink_index);
}

// A stream that is gone by the time it is asked about answers with an error
// (eol < 0); its removal is announced on its own.
void PulseEvents::on_new_stream(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
    if (eol != 0 || info == nullptr) return;
    auto& events = *static_cast<PulseEvents*>(self);
    events.stream_places_.insert_or_assign(info->index, StreamPlace{info->sink, info->client});
    events.session_arrived(info->sink);
}

void PulseEvents::on_changed_stream(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
    if (eol == 0 && info != nullptr) {
        const StreamRecord record = stream_record(*info);
        auto& events = *static_cast<PulseEvents*>(self);
        events.stream_moved(record);
        events.stream_changed(record.index, record.volume);
    }
}

void PulseEvents::on_changed_sink(pa_context*, const pa_sink_info* info, int eol, void* self) {
    if (eol == 0 && info != nullptr) {
        const SinkRecord record = sink_record(*info);
        static_cast<PulseEvents*>(self)->sink_changed(record.index, record.volume);
    }
}

void PulseEvents::on_server(pa_context*, const pa_server_info* info, void* self) {
    if (info != nullptr) static_cast<PulseEvents*>(self)->server_changed(info->default_sink_name);
}

void PulseEvents::session_arrived(std::uint32_t sink_index) {
    std::vector<std::shared_ptr<SessionCreationSink>> sinks;
    for (const auto& [key, watch] : creations_) {
        if (watch.sink_index == sink_index) sinks.push_back(watch.sink);
    }
    call_each(sinks, [](SessionCreationSink& sink) { sink.on_session_created(); });
}

// A stream not seen before (it started before this connection) may just have
// moved here, so it counts as arrived; at worst a sink rescans once for
// nothing.
void PulseEvents::stream_moved(const StreamRecord& record) {
    const auto known = stream_places_.find(record.index);
    const bool arrived = known == stream_places_.end() || known->second.sink_index != record.sink;
    stream_places_.insert_or_assign(record.index, StreamPlace{record.sink, record.client});
    if (arrived) session_arrived(record.sink);
}

void PulseEvents::stream_changed(std::uint32_t stream, StreamVolume volume) {
    std::vector<std::shared_ptr<SessionEventSink>> sinks;
    for (auto& [key, watch] : streams_) {
        if (watch.stream != stream || watch.last == volume) continue;
        watch.last = volume;
        sinks.push_back(watch.sink);
    }
    if (sinks.empty()) return;
    const auto context = echoes_->context_of(stream, volume, EchoFilter::Clock::now());
    const float level = level_of(volume.level);
    call_each(sinks, [&](SessionEventSink& sink) { sink.on_simple_volume_changed(level, volume.muted, context); });
}

void PulseEvents::stream_removed(std::uint32_t stream) {
    echoes_->forget(stream);
    stream_places_.erase(stream);
    std::vector<std::shared_ptr<SessionEventSink>> sinks;
    for (const auto& [key, watch] : streams_) {
        if (watch.stream == stream) sinks.push_back(watch.sink);
    }
    call_each(sinks, [](SessionEventSink& sink) { sink.on_state_changed(AudioSessionState::expired); });
}

void PulseEvents::sink_changed(std::uint32_t sink_index, StreamVolume volume) {
    std::vector<std::shared_ptr<EndpointVolumeSink>> sinks;
    for (auto& [key, watch] : sink_volumes_) {
        if (watch.sink_index != sink_index || watch.last == volume) continue;
        watch.last = volume;
        sinks.push_back(watch.sink);
    }
    const float level = level_of(volume.level);
    call_each(sinks, [&](EndpointVolumeSink& sink) { sink.on_notify(level, volume.muted, SOMEONE_ELSES); });
}

// The server announces many changes of its own (default source, sample
// rates, ...); only a new default sink is a new default output device.
void PulseEvents::server_changed(const char* default_sink) {
    const std::string name = default_sink != nullptr ? default_sink : "";
    if (name == default_sink_) return;
    default_sink_ = name;
    devices_->default_changed();
}

std::optional<ClientRecord> PulseEvents::known_client(std::uint32_t index) const {
    const auto found = clients_.find(index);
    if (found == clients_.end()) return std::nullopt;
    return found->second;
}

void PulseEvents::remember_client(ClientRecord client) { clients_.insert_or_assign(client.index, std::move(client)); }

bool PulseEvents::watches_stream(std::uint32_t stream) const {
    for (const auto& [key, watch] : streams_) {
        if (watch.stream == stream) return true;
    }
    return false;
}

bool PulseEvents::watches_sink_volume(std::uint32_t sink_index) const {
    for (const auto& [key, watch] : sink_volumes_) {
        if (watch.sink_index == sink_index) return true;
    }
    return false;
}

}  // namespace olvex::volume::pulse
