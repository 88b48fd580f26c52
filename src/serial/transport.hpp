#pragma once

// One open serial port as two queues: received chunks in, frames out. Each
// connection runs a reader thread and a writer thread that end by themselves
// when the port fails or goes away, or when the connection's queue ends are
// released (there is no explicit close).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/channel.hpp"
#include "base/duration.hpp"
#include "serial/serial_port.hpp"

namespace olvex::serial {

inline constexpr std::size_t READ_CHUNK = 1024;
inline constexpr std::size_t WRITE_PIECE = 512;
inline constexpr Duration WRITE_STALL_LIMIT = Duration::from_seconds(10);
inline constexpr Duration IDLE_PAUSE = Duration::from_millis(5);
inline constexpr Duration PORT_TIMEOUT = Duration::from_millis(100);
// How far ahead of the line the writer may run: it takes the next frame only
// once what it wrote before would go out within this time.
inline constexpr Duration LINE_LEAD = Duration::from_millis(50);

// Received chunks and frames to write are plain byte strings.
using Bytes = std::string;

struct SerialConnection {
    // Chunks of 1 to READ_CHUNK bytes in arrival order; closed once the reader ended.
    Receiver<Bytes> reader_queue;
    // Frames, written whole and in order.
    Sender<Bytes> writer_queue;
};

// The waits of the transport; tests shorten them.
struct TransportTiming {
    Duration write_stall_limit = WRITE_STALL_LIMIT;
    // The least time between two tries that moved nothing, for a port that
    // reports room and then takes none.
    Duration idle_pause = IDLE_PAUSE;
    Duration port_timeout = PORT_TIMEOUT;
    // The line's rate in baud to which the writer keeps pace; 0 writes as fast
    // as the port takes the bytes.
    std::uint32_t paced_baud_rate = 0;
    Duration line_lead = LINE_LEAD;
};

using PortOpener = std::function<PortResult<std::unique_ptr<SerialPort>>(std::string_view, const PortSettings&)>;

// Set by the writer when it ends; the reader stops once it sees it.
using StopFlag = std::shared_ptr<std::atomic<bool>>;

// Opens `name` (8N1, no flow control, DTR on) and starts its reader and
// writer, the writer paced to `baud_rate`.
[[nodiscard]] PortResult<SerialConnection> open_serial_connection(std::string_view name, std::uint32_t baud_rate);

// The same with the port opener and the waits given.
[[nodiscard]] PortResult<SerialConnection> open_serial_connection(std::string_view name, std::uint32_t baud_rate,
                                                                  const PortOpener& open_port,
                                                                  const TransportTiming& timing);

// Thread body: forwards what the port receives until the stop flag is set
// (the port's waits interrupted with it), the port fails, or nobody takes the
// chunks any more. While nothing arrives it waits in the port, without waking.
void serial_reader(std::unique_ptr<SerialPort> port, Sender<Bytes> chunks, const std::string& name,
                   const StopFlag& stop_flag);

// Thread body: writes queued frames until the queue closes or a frame fails;
// then sets the stop flag and interrupts the port's waits. When paced, each
// frame is taken from the queue only once the line is about to be free, so
// that frames wait in the queue, where they can still be replaced, and not in
// the system's buffers.
void serial_writer(std::unique_ptr<SerialPort> port, Receiver<Bytes> frames, const std::string& name,
                   const StopFlag& stop_flag, const TransportTiming& timing);

// Writes one frame in pieces of at most WRITE_PIECE bytes; while the port
// takes nothing it waits in the port for room. Gives up (and logs why) on a
// write error, or when the port accepted nothing for longer than the stall
// limit, and quietly once the port was interrupted. An empty frame succeeds
// without touching the port.
[[nodiscard]] bool write_frame(const std::string& name, SerialPort& port, std::string_view frame,
                               const TransportTiming& timing);

}  // namespace olvex::serial
