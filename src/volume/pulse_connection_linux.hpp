#pragma once

// One connection to the PulseAudio server (or PipeWire's stand-in for it),
// driven by a threaded main loop of its own.
//
// Requests are made from any thread but the loop's: the caller takes the loop
// lock, starts the operation with a callback that records the answer and
// wakes it, and waits on the loop. The wait ends with an error, never hangs,
// when the connection breaks or the server does not answer in time; the
// operation is then cancelled so that its callback never runs.

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "volume/audio_platform.hpp"
#include "volume/echo_filter.hpp"
#include "volume/pulse_events_linux.hpp"
#include "volume/pulse_records_linux.hpp"

namespace olvex::volume::pulse {

// How long the server has to answer one request, or to accept a connection.
inline constexpr std::chrono::milliseconds REPLY_TIMEOUT{5000};

class PulseConnection {
public:
    // Connects to the server named by PULSE_SERVER (else the usual places),
    // never starting one, and subscribes to sink, sink input, client and
    // server changes. Fails when no server answers.
    [[nodiscard]] static AudioResult<std::shared_ptr<PulseConnection>> open(std::shared_ptr<EchoFilter> echoes,
                                                                            std::shared_ptr<DeviceSinks> devices);

    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Whether requests can still be answered: the server has not gone away.
    [[nodiscard]] bool usable();

    [[nodiscard]] AudioResult<std::vector<SinkRecord>> sinks();
    [[nodiscard]] AudioResult<SinkRecord> sink(std::uint32_t index);
    [[nodiscard]] AudioResult<SinkRecord> default_sink();
    // Every sink input, with what its client says of its process where it
    // says nothing itself; the process identities they name are remembered.
    [[nodiscard]] AudioResult<std::vector<StreamRecord>> streams();
    [[nodiscard]] AudioResult<void> set_stream_volume(std::uint32_t stream, std::uint8_t channels,
                                                      std::uint32_t volume);
    [[nodiscard]] AudioResult<void> set_stream_mute(std::uint32_t stream, bool muted);

    // What the streams of the process said about it; streams are listed
    // again when none has been seen yet.
    [[nodiscard]] ProcessIdentity process_identity(std::uint32_t process_id);

    // Runs `use` on the change announcements with the loop locked.
    template <typename Use>
    auto with_events(Use&& use) {
        const LoopLock lock(loop_);
        return use(events_);
    }

    [[nodiscard]] EchoFilter& echoes() { return *echoes_; }

private:
    // Locks the loop, except on the loop's own thread, which holds it already.
    class LoopLock {
    public:
        explicit LoopLock(pa_threaded_mainloop* loop);
        ~LoopLock();
        LoopLock(const LoopLock&) = delete;
        LoopLock& operator=(const LoopLock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    PulseConnection(std::shared_ptr<EchoFilter> echoes, std::shared_ptr<DeviceSinks> devices);
    AudioResult<void> connect();
    AudioResult<void> subscribe();
    AudioResult<std::string> default_sink_name();
    template <typename Finished>
    AudioResult<void> wait_until(Finished&& finished, const char* what);
    template <typename Answer>
    AudioResult<void> await(pa_operation* operation, Answer& reply, const char* what);
    template <typename Record, typename Start>
    AudioResult<Record> read_one(Start&& start, const char* what);
    [[nodiscard]] std::optional<Error> broken() const;
    void complete_from_clients(std::vector<StreamRecord>& records);
    AudioResult<ClientRecord> read_client(std::uint32_t index);
    void remember_identities(const std::vector<StreamRecord>& records);

    static void on_state(pa_context* context, void* self);

    std::shared_ptr<EchoFilter> echoes_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    PulseEvents events_;
    // Only a connection that was up can be lost; one that never came up is
    // just a failed attempt.
    bool established_ = false;
    std::mutex identities_mutex_;
    std::map<std::uint32_t, ProcessIdentity> identities_;
};

}  // namespace olvex::volume::pulse
