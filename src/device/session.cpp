#include "device/session.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "base/failure.hpp"
#include "base/standard_streams.hpp"
#include "base/thread.hpp"
#include "log/log.hpp"
#include "protocol/line_buffer.hpp"
#include "protocol/messages.hpp"
#include "serial/port_trials.hpp"

namespace olvex::device {

namespace {

using Clock = std::chrono::steady_clock;

void print_to_stdout(std::string_view line) {
    std::string text(line);
    text += '\n';
    write_to_standard_output(text);
}

void print(const SessionPorts& ports, std::string_view line) {
    if (ports.print_line)
        ports.print_line(line);
    else
        print_to_stdout(line);
}

// Waits for the device's hello_ack until `deadline`; lines before it that are
// anything else are dropped, lines after it stay in `lines`.
std::optional<protocol::HelloAck> await_hello_ack(serial::SerialConnection& connection, protocol::LineBuffer& lines,
                                        Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        auto chunk = connection.reader_queue.recv_until(deadline);
        if (!chunk) return std::nullopt;
        lines.append(*chunk);
        while (auto line = lines.take_line()) {
            auto event = protocol::decode_device_event(*line);
            if (event && std::holds_alternative<protocol::HelloAck>(*event)) {
                return std::get<protocol::HelloAck>(std::move(*event));
            }
        }
    }
    return std::nullopt;
}

void serve(serial::SerialConnection& connection, protocol::LineBuffer& lines, const LinkEventHandler& handler) {
    // Lines that arrived together with the hello_ack come first.
    for (;;) {
        while (auto line = lines.take_line()) {
            if (auto event = protocol::decode_device_event(*line)) handler(Device{normalise(std::move(*event))});
        }
        auto chunk = connection.reader_queue.recv();
        if (!chunk) return;
        lines.append(*chunk);
    }
}

// refused: the user may not open the port; faulted: an unexpected failure
// ended the attempt.
enum class Attempt { failed, refused, produced_session, faulted };

// What one attempt tells beyond its result.
struct AttemptNotes {
    bool connected = false;  // Connected has been handed to the handler
    std::string refusal;     // why the port may not be opened, and what to do
};

Attempt try_port(const std::string& name, const std::shared_ptr<DeviceLink>& link, const LinkEventHandler& handler,
                 const SessionPorts& ports, AttemptNotes& notes) {
    auto connection = ports.open_connection(name, DEVICE_BAUD_RATE);
    if (!connection && connection.error().kind == serial::PortError::Kind::access_denied) {
        notes.refusal = std::move(connection.error().description);
        return Attempt::refused;
    }
    if (!connection) return Attempt::failed;

    // The leading line feed ends whatever partial line the device still holds.
    std::string hello_frame(1, '\n');
    hello_frame += protocol::encode_host_message(protocol::Hello{});
    if (!connection->writer_queue.send(std::move(hello_frame))) return Attempt::failed;

    protocol::LineBuffer lines;
    const auto deadline = Clock::now() + ports.hello_timeout.to_chrono();
    auto hello_ack = await_hello_ack(*connection, lines, deadline);
    if (!hello_ack) {
        print(ports, fmt::format("device: {} did not answer hello", name));
        return Attempt::failed;
    }

    link->connect(connection->writer_queue);
    notes.connected = true;
    handler(Connected{name, std::move(*hello_ack)});
    serve(*connection, lines, handler);
    link->disconnect();
    handler(Disconnected{});
    return Attempt::produced_session;
}

// A failure inside one attempt ends that attempt as if the device had gone;
// a handler that heard Connected hears Disconnected too, so the icon does not
// go on showing a device that is not served.
Attempt try_port_guarded(const std::string& name, const std::shared_ptr<DeviceLink>& link,
                         const LinkEventHandler& handler, const SessionPorts& ports, AttemptNotes& notes) {
    Attempt attempt = Attempt::failed;
    if (run_guarded([&] { attempt = try_port(name, link, handler, ports, notes); })) return attempt;
    log_message(fmt::format("device: session with {} panicked, treating as disconnected", name));
    link->disconnect();
    if (notes.connected) run_guarded([&] { handler(Disconnected{}); });
    return Attempt::faulted;
}

// A port the user may not open would otherwise fail in silence on every
// pass; it is reported once, and again only after it was gone or opened.
void note_refusal(serial::PortTrials& trials, const serial::PortRecord& port, Attempt attempt,
                  const AttemptNotes& notes) {
    if (attempt != Attempt::refused) {
        trials.not_refused(port);
    } else if (trials.refused(port)) {
        log_message(fmt::format("serial: {}: {}", port.name, notes.refusal));
    }
}

// The ports of this pass: those listed and the one the user named, which
// need not be listed (a pseudo-terminal, say).
std::vector<serial::PortRecord> ports_of_pass(std::vector<serial::PortRecord> listed,
                                              const std::vector<serial::PortRecord>& candidates) {
    for (const auto& candidate : candidates) {
        if (std::ranges::find(listed, candidate) == listed.end()) listed.push_back(candidate);
    }
    return listed;
}

// One pass over the candidates, until one gives a session or fails
// unexpectedly. Ports without the device's marker are tried in a few passes
// only, unless the user named the port.
Attempt search_once(const std::shared_ptr<DeviceLink>& link, const LinkEventHandler& handler,
                    const SessionPorts& ports, serial::PortTrials& trials) {
    auto listed = ports.list_ports();
    const std::vector<serial::PortRecord> present = listed ? std::move(*listed) : std::vector<serial::PortRecord>{};
    const auto candidates = ports.select_candidates(present);
    trials.begin_pass(ports_of_pass(present, candidates));
    const bool named = ports.port_named();
    for (const auto& candidate : candidates) {
        if (!named && !trials.may_try(candidate)) continue;
        trials.tried(candidate);
        AttemptNotes notes;
        const Attempt attempt = try_port_guarded(candidate.name, link, handler, ports, notes);
        note_refusal(trials, candidate, attempt, notes);
        if (attempt == Attempt::produced_session) trials.answered(candidate);
        if (attempt == Attempt::produced_session || attempt == Attempt::faulted) return attempt;
    }
    return Attempt::failed;
}

}  // namespace

protocol::DeviceEvent normalise(protocol::DeviceEvent event) {
    if (auto* seek = std::get_if<protocol::Seek>(&event)) seek->position_s = std::max(seek->position_s, 0.0);
    if (auto* seek = std::get_if<protocol::SeekRelative>(&event)) seek->position = std::clamp(seek->position, 0.0, 1.0);
    return event;
}

std::shared_ptr<DeviceLink> start_device_session(LinkEventHandler handler, SessionPorts ports) {
    auto link = std::make_shared<DeviceLink>();
    spawn_thread([link, handler = std::move(handler), ports = std::move(ports)] {
        run_device_session(link, handler, ports);
    });
    return link;
}

void run_device_session(const std::shared_ptr<DeviceLink>& link, const LinkEventHandler& handler,
                        const SessionPorts& ports) {
    serial::PortTrials trials;
    while (ports.keep_searching()) {
        // A session that ended is searched for again at once; a failure that
        // may repeat waits like an empty search, not to loop at full speed.
        if (search_once(link, handler, ports, trials) != Attempt::produced_session) {
            std::this_thread::sleep_for(ports.rescan_delay.to_chrono());
        }
    }
}

}  // namespace olvex::device
