#include "serial/transport.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "base/thread.hpp"
#include "log/log.hpp"

namespace olvex::serial {

namespace {

void sleep_for(Duration duration) { std::this_thread::sleep_for(duration.to_chrono()); }

Duration elapsed_since(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return Duration::from_nanos(
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
}

// When the bytes written so far will have left over a line of a given rate:
// ten bits a byte (start, eight data, stop).
class LinePace {
public:
    explicit LinePace(const TransportTiming& timing) : baud_(timing.paced_baud_rate), lead_(timing.line_lead) {}

    void wait_for_line() const {
        if (baud_ == 0) return;
        const auto ready_at = busy_until_ - lead_.to_chrono();
        if (ready_at > std::chrono::steady_clock::now()) std::this_thread::sleep_until(ready_at);
    }

    void wrote(std::size_t bytes) {
        if (baud_ == 0) return;
        const auto now = std::chrono::steady_clock::now();
        const auto line_time = std::chrono::nanoseconds(bytes * 10 * 1'000'000'000ULL / baud_);
        busy_until_ = std::max(busy_until_, now) + line_time;
    }

private:
    std::uint32_t baud_;
    Duration lead_;
    std::chrono::steady_clock::time_point busy_until_;
};

}  // namespace

PortResult<SerialConnection> open_serial_connection(std::string_view name, std::uint32_t baud_rate) {
    return open_serial_connection(name, baud_rate, &open_serial_port, TransportTiming{.paced_baud_rate = baud_rate});
}

PortResult<SerialConnection> open_serial_connection(std::string_view name, std::uint32_t baud_rate,
                                                    const PortOpener& open_port, const TransportTiming& timing) {
    auto writer_port = open_port(name, PortSettings{baud_rate, timing.port_timeout});
    if (!writer_port) return std::unexpected(std::move(writer_port.error()));
    auto reader_port = (*writer_port)->duplicate();
    if (!reader_port) return std::unexpected(std::move(reader_port.error()));

    auto [chunk_sender, chunk_receiver] = channel<Bytes>();
    auto [frame_sender, frame_receiver] = channel<Bytes>();
    auto stop_flag = std::make_shared<std::atomic<bool>>(false);
    // The writer starts first: should the reader then fail to start, the
    // writer still ends by itself once this function's frame sender is gone,
    // and no reader is left polling a port nobody writes to.
    spawn_thread([port = std::move(*writer_port), frames = std::move(frame_receiver), name = std::string(name),
                  stop_flag, timing]() mutable {
        serial_writer(std::move(port), std::move(frames), name, stop_flag, timing);
    });
    spawn_thread([port = std::move(*reader_port), chunks = std::move(chunk_sender), name = std::string(name),
                  stop_flag]() mutable {
        serial_reader(std::move(port), std::move(chunks), name, stop_flag);
    });
    return SerialConnection{std::move(chunk_receiver), std::move(frame_sender)};
}

void serial_reader(std::unique_ptr<SerialPort> port, Sender<Bytes> chunks, const std::string& name,
                   const StopFlag& stop_flag) {
    const auto went_away = [&](const PortError& error) {
        log_message(fmt::format("serial: {} went away: {}", name, error.description));
    };
    std::array<char, READ_CHUNK> buffer{};
    while (!stop_flag->load()) {
        const auto waiting = port->bytes_waiting();
        if (!waiting) return went_away(waiting.error());
        if (*waiting == 0) {
            // An idle line must cost nothing: the thread sleeps in the port
            // until a byte comes, the device goes, or the writer ends.
            const auto woke = port->wait_for_input();
            // Wine's serial driver now and then ends a waiting read with a
            // time-out; like every time-out, it only means "nothing yet".
            if (!woke && woke.error().is_timeout()) continue;
            if (!woke) return went_away(woke.error());
            if (!*woke) return;
            continue;
        }
        const auto received = port->read(buffer);
        if (!received) {
            if (received.error().is_timeout()) continue;
            log_message(fmt::format("serial: {} read failed: {}", name, received.error().description));
            return;
        }
        if (*received == 0) continue;
        if (!chunks.send(Bytes(buffer.data(), *received))) return;
    }
}

void serial_writer(std::unique_ptr<SerialPort> port, Receiver<Bytes> frames, const std::string& name,
                   const StopFlag& stop_flag, const TransportTiming& timing) {
    // However the writer ends, the reader must learn of it, also while it
    // waits for input on a silent line: the flag is set first, then the wait
    // is interrupted, then the handle and the queue are let go.
    struct EndOfWriter {
        std::unique_ptr<SerialPort>& port;
        Receiver<Bytes>& frames;
        const StopFlag& stop_flag;
        ~EndOfWriter() {
            stop_flag->store(true);
            port->interrupt();
            port.reset();
            auto discarded = std::move(frames);
        }
    } end_of_writer{port, frames, stop_flag};

    LinePace pace(timing);
    for (;;) {
        pace.wait_for_line();
        auto frame = frames.recv();
        if (!frame || !write_frame(name, *port, *frame, timing)) return;
        pace.wrote(frame->size());
    }
}

bool write_frame(const std::string& name, SerialPort& port, std::string_view frame, const TransportTiming& timing) {
    std::size_t sent = 0;
    auto last_progress = std::chrono::steady_clock::now();
    while (sent < frame.size()) {
        const auto tried = std::chrono::steady_clock::now();
        const auto written = port.write(frame.substr(sent, WRITE_PIECE));
        if (written && *written > 0) {
            sent += *written;
            last_progress = std::chrono::steady_clock::now();
            continue;
        }
        if (!written && !written.error().is_timeout()) {
            log_message(fmt::format("serial: {} write failed after {} of {} bytes: {}", name, sent, frame.size(),
                                    written.error().description));
            return false;
        }
        const Duration stalled = elapsed_since(last_progress);
        if (stalled > timing.write_stall_limit) {
            log_message(fmt::format("serial: {} accepted nothing for {}, {} of {} bytes sent", name,
                                    format_duration(timing.write_stall_limit), sent, frame.size()));
            return false;
        }
        // A device that stopped reading is waited for in the port, which
        // wakes the writer once there is room again, not every few
        // milliseconds.
        const auto room = port.wait_for_output(timing.write_stall_limit.saturating_sub(stalled));
        if (!room) {
            log_message(fmt::format("serial: {} write failed after {} of {} bytes: {}", name, sent, frame.size(),
                                    room.error().description));
            return false;
        }
        if (!*room) return false;
        // A port that reports room and then takes nothing must not make the
        // writer spin.
        sleep_for(timing.idle_pause.saturating_sub(elapsed_since(tried)));
    }
    return true;
}

}  // namespace olvex::serial
