#include "volume/pulse_connection_linux.hpp"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>

#include <utility>

namespace olvex::volume::pulse {

namespace {

struct Nothing {};

// One request's answer, filled in on the loop thread; the waiter reads it
// once `done`.
template <typename T>
struct Reply {
    pa_threaded_mainloop* loop = nullptr;
    bool done = false;
    int error = 0;
    T value{};
};

template <typename T>
void finish(Reply<T>& reply, pa_context* context, bool succeeded) {
    if (!succeeded) reply.error = pa_context_errno(context);
    reply.done = true;
    pa_threaded_mainloop_signal(reply.loop, 0);
}

void on_success(pa_context* context, int success, void* reply) {
    finish(*static_cast<Reply<Nothing>*>(reply), context, success != 0);
}

// List answers come item by item, then once more with eol = 1 (or eol < 0 on
// failure).
template <typename Info, auto convert>
void on_item(pa_context* context, const Info* info, int eol, void* data) {
    auto& reply = *static_cast<Reply<std::vector<decltype(convert(*info))>>*>(data);
    if (eol < 0) {
        finish(reply, context, false);
    } else if (eol > 0) {
        finish(reply, context, true);
    } else if (info != nullptr) {
        reply.value.push_back(convert(*info));
    }
}

void on_server(pa_context* context, const pa_server_info* info, void* data) {
    auto& reply = *static_cast<Reply<std::string>*>(data);
    if (info != nullptr && info->default_sink_name != nullptr) reply.value = info->default_sink_name;
    finish(reply, context, info != nullptr);
}

// A time limit on one wait: when it passes, the loop wakes the waiter.
class Deadline {
public:
    Deadline(pa_threaded_mainloop* loop, pa_context* context, std::chrono::microseconds limit)
        : loop_(loop),
          event_(pa_context_rttime_new(context, pa_rtclock_now() + static_cast<pa_usec_t>(limit.count()), &on_time,
                                       this)) {}
    ~Deadline() {
        if (event_ != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(event_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    // Without a timer (it could not be made) the wait still ends when the
    // connection breaks.
    [[nodiscard]] bool passed() const { return passed_; }

private:
    static void on_time(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto& deadline = *static_cast<Deadline*>(self);
        deadline.passed_ = true;
        pa_threaded_mainloop_signal(deadline.loop_, 0);
    }

    pa_threaded_mainloop* loop_;
    pa_time_event* event_;
    bool passed_ = false;
};

// The failure behind a context that is no longer usable.
int context_error(pa_context* context) {
    const int code = pa_context_errno(context);
    return code != PA_OK ? code : PA_ERR_CONNECTIONTERMINATED;
}

}  // namespace

PulseConnection::LoopLock::LoopLock(pa_threaded_mainloop* loop)
    : loop_(pa_threaded_mainloop_in_thread(loop) != 0 ? nullptr : loop) {
    if (loop_ != nullptr) pa_threaded_mainloop_lock(loop_);
}

PulseConnection::LoopLock::~LoopLock() {
    if (loop_ != nullptr) pa_threaded_mainloop_unlock(loop_);
}

// Waits with the loop locked; the wait gives the lock up while it sleeps.
template <typename Finished>
AudioResult<void> PulseConnection::wait_until(Finished&& finished, const char* what) {
    if (pa_threaded_mainloop_in_thread(loop_) != 0) {
        return make_error(std::string(what) + ": the sound server's own thread cannot wait for it");
    }
    const Deadline deadline(loop_, context_, REPLY_TIMEOUT);
    while (!finished()) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            return std::unexpected(pulse_error(what, context_error(context_)));
        }
        if (deadline.passed()) return std::unexpected(pulse_error(what, PA_ERR_TIMEOUT));
        pa_threaded_mainloop_wait(loop_);
    }
    return {};
}

// A null operation failed to start. An operation given up on is cancelled
// while the lock is still held, so its callback, which points into this
// frame, can never run.
template <typename Answer>
AudioResult<void> PulseConnection::await(pa_operation* operation, Answer& reply, const char* what) {
    if (operation == nullptr) return std::unexpected(pulse_error(what, context_error(context_)));
    auto waited = wait_until(
        [&] { return reply.done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, what);
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!waited) return waited;
    if (!reply.done) return std::unexpected(pulse_error(what, context_error(context_)));
    if (reply.error != PA_OK) return std::unexpected(pulse_error(what, reply.error));
    return {};
}

PulseConnection::PulseConnection(std::shared_ptr<EchoFilter> echoes, std::shared_ptr<DeviceSinks> devices)
    : echoes_(std::move(echoes)), events_(echoes_, std::move(devices)) {}

// Runs a query that answers with the one record asked for; none at all
// means the server no longer has it.
template <typename Record, typename Start>
AudioResult<Record> PulseConnection::read_one(Start&& start, const char* what) {
    Reply<std::vector<Record>> reply{loop_};
    auto done = await(start(&reply), reply, what);
    if (!done) return std::unexpected(std::move(done.error()));
    if (reply.value.empty()) return std::unexpected(pulse_error(what, PA_ERR_NOENTITY));
    return std::move(reply.value.front());
}

AudioResult<std::shared_ptr<PulseConnection>> PulseConnection::open(std::shared_ptr<EchoFilter> echoes,
                                                                    std::shared_ptr<DeviceSinks> devices) {
    std::shared_ptr<PulseConnection> connection(new PulseConnection(std::move(echoes), std::move(devices)));
    if (auto connected = connection->connect(); !connected) return std::unexpected(std::move(connected.error()));
    return connection;
}

// The loop stops before the context goes, so that no callback runs while it
// is taken apart; the callbacks are cleared so that the disconnection itself
// calls none.
PulseConnection::~PulseConnection() {
    if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

// Autospawn is off: a missing server is an error to report, not one to start
// behind the user's back.
AudioResult<void> PulseConnection::connect() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return make_error("could not create the sound server's main loop");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "OLVEX-Audio-Control");
    if (context_ == nullptr) return make_error("could not create a sound server context");
    pa_context_set_state_callback(context_, &on_state, this);
    events_.attach(context_);
    if (pa_threaded_mainloop_start(loop_) < 0) return make_error("could not start the sound server's main loop");

    const LoopLock lock(loop_);
    const char* what = "could not connect to the sound server";
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return std::unexpected(pulse_error(what, context_error(context_)));
    }
    auto ready = wait_until([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, what);
    if (!ready) return ready;
    if (auto subscribed = subscribe(); !subscribed) return subscribed;
    auto name = default_sink_name();
    if (!name) return std::unexpected(std::move(name.error()));
    events_.set_default_sink(std::move(*name));
    established_ = true;
    return {};
}

AudioResult<void> PulseConnection::subscribe() {
    Reply<Nothing> reply{loop_};
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                                          PA_SUBSCRIPTION_MASK_CLIENT | PA_SUBSCRIPTION_MASK_SERVER);
    return await(pa_context_subscribe(context_, mask, &on_success, &reply), reply,
                 "could not subscribe to the sound server's changes");
}

AudioResult<std::string> PulseConnection::default_sink_name() {
    Reply<std::string> reply{loop_};
    auto done = await(pa_context_get_server_info(context_, &on_server, &reply), reply,
                      "could not read the sound server's information");
    if (!done) return std::unexpected(std::move(done.error()));
    return std::move(reply.value);
}

bool PulseConnection::usable() {
    const LoopLock lock(loop_);
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

AudioResult<std::vector<SinkRecord>> PulseConnection::sinks() {
    const LoopLock lock(loop_);
    Reply<std::vector<SinkRecord>> reply{loop_};
    auto done = await(pa_context_get_sink_info_list(context_, &on_item<pa_sink_info, sink_record>, &reply), reply,
                      "could not list the sinks");
    if (!done) return std::unexpected(std::move(done.error()));
    return std::move(reply.value);
}

AudioResult<SinkRecord> PulseConnection::sink(std::uint32_t index) {
    const LoopLock lock(loop_);
    return read_one<SinkRecord>(
        [&](void* reply) {
            return pa_context_get_sink_info_by_index(context_, index, &on_item<pa_sink_info, sink_record>, reply);
        },
        "could not read a sink");
}

AudioResult<SinkRecord> PulseConnection::default_sink() {
    const LoopLock lock(loop_);
    auto name = default_sink_name();
    if (!name) return std::unexpected(std::move(name.error()));
    if (name->empty()) return make_error("the sound server has no default sink");
    return read_one<SinkRecord>(
        [&](void* reply) {
            return pa_context_get_sink_info_by_name(context_, name->c_str(), &on_item<pa_sink_info, sink_record>,
                                                    reply);
        },
        "could not read the default sink");
}

AudioResult<std::vector<StreamRecord>> PulseConnection::streams() {
    Reply<std::vector<StreamRecord>> reply{loop_};
    {
        const LoopLock lock(loop_);
        auto done = await(
            pa_context_get_sink_input_info_list(context_, &on_item<pa_sink_input_info, stream_record>, &reply), reply,
            "could not list the sink inputs");
        if (!done) return std::unexpected(std::move(done.error()));
        complete_from_clients(reply.value);
    }
    remember_identities(reply.value);
    return std::move(reply.value);
}

// A stream of PipeWire's own clients names no process; its client does. A
// client that cannot be read (it has just gone) leaves its streams as they
// are.
void PulseConnection::complete_from_clients(std::vector<StreamRecord>& records) {
    for (auto& record : records) {
        if (!lacks_process(record) || record.client == PA_INVALID_INDEX) continue;
        auto client = events_.known_client(record.client);
        if (!client) {
            auto read = read_client(record.client);
            if (!read) continue;
            events_.remember_client(*read);
            client = std::move(*read);
        }
        complete_from_client(record, *client);
    }
}

AudioResult<ClientRecord> PulseConnection::read_client(std::uint32_t index) {
    return read_one<ClientRecord>(
        [&](void* reply) {
            return pa_context_get_client_info(context_, index, &on_item<pa_client_info, client_record>, reply);
        },
        "could not read a client");
}

AudioResult<void> PulseConnection::set_stream_volume(std::uint32_t stream, std::uint8_t channels,
                                                     std::uint32_t volume) {
    const char* what = "could not set a sink input's volume";
    // pa_cvolume_set asserts on a channel count it cannot hold.
    if (pa_channels_valid(channels) == 0) return std::unexpected(pulse_error(what, PA_ERR_INVALID));
    pa_cvolume levels;
    pa_cvolume_set(&levels, channels, static_cast<pa_volume_t>(volume));
    const LoopLock lock(loop_);
    Reply<Nothing> reply{loop_};
    return await(pa_context_set_sink_input_volume(context_, stream, &levels, &on_success, &reply), reply, what);
}

AudioResult<void> PulseConnection::set_stream_mute(std::uint32_t stream, bool muted) {
    const LoopLock lock(loop_);
    Reply<Nothing> reply{loop_};
    return await(pa_context_set_sink_input_mute(context_, stream, muted ? 1 : 0, &on_success, &reply), reply,
                 "could not set a sink input's mute");
}

ProcessIdentity PulseConnection::process_identity(std::uint32_t process_id) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            std::lock_guard lock(identities_mutex_);
            if (const auto found = identities_.find(process_id); found != identities_.end()) return found->second;
        }
        if (attempt == 0 && !streams()) break;
    }
    return {};
}

// Only the processes that play now are kept, so the table never grows beyond
// the streams of the moment.
void PulseConnection::remember_identities(const std::vector<StreamRecord>& records) {
    std::map<std::uint32_t, ProcessIdentity> identities;
    for (const auto& record : records) {
        if (record.process_id) identities.try_emplace(*record.process_id, ProcessIdentity{record.application_id, record.process_binary});
    }
    std::lock_guard lock(identities_mutex_);
    identities_ = std::move(identities);
}

void PulseConnection::on_state(pa_context* context, void* self) {
    auto& connection = *static_cast<PulseConnection*>(self);
    if (pa_context_get_state(context) == PA_CONTEXT_FAILED && connection.established_) {
        connection.events_.connection_lost();
    }
    pa_threaded_mainloop_signal(connection.loop_, 0);
}

}  // namespace olvex::volume::pulse
