// The serial port on Windows: a COM device opened exclusively for overlapped
// I/O, with a DCB for 8N1 without flow control and COMMTIMEOUTS for the
// time-out.
//
// Both handles of a port (see duplicate) refer to one file object, and the
// system runs synchronous calls on one file object one after the other. While
// the device does not read, every write waits out the whole time-out, again
// and again for as long as the writer keeps trying, and a synchronous reader
// would wait behind each of them. So every read and write here is an
// overlapped request with an event of its own handle object, and each call
// waits only for its own request. Writes are bounded by the COMMTIMEOUTS: the
// driver completes them when the time-out expires.
//
// Reads are not: a read that asks for more than is waiting waits for its
// first byte without a time limit, so that the reader of an idle line can
// sleep in one request (wait_for_input) until a byte comes or the port's
// interrupt event is set. read() keeps the port time-out by cancelling its
// request itself. The byte that ends such a wait is kept by the handle and
// handed out first by the next read.

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/platform_error_win.hpp"
#include "base/text.hpp"
#include "serial/serial_port.hpp"

namespace olvex::serial {

namespace {

using Kind = PortError::Kind;

Kind kind_of_win32_error(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return Kind::not_found;
        // A request a driver ended with STATUS_IO_TIMEOUT, with STATUS_TIMEOUT,
        // or with the serial drivers' STATUS_SERIAL_COUNTER_TIMEOUT; a wait
        // that ran out.
        case ERROR_SEM_TIMEOUT:
        case WAIT_TIMEOUT:
        case ERROR_TIMEOUT:
        case ERROR_COUNTER_TIMEOUT:
            return Kind::timeout;
        // What the system and the USB serial drivers report once the device
        // has been unplugged. Wine reports a hung-up tty as ERROR_NOT_READY,
        // and a read that was waiting when it hung up as ERROR_BROKEN_PIPE.
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE:
            return Kind::gone;
        default:
            return Kind::other;
    }
}

std::unexpected<PortError> fail(Kind kind, std::string description) {
    return std::unexpected(PortError{kind, std::move(description)});
}

std::unexpected<PortError> fail_win32(DWORD code) {
    return fail(kind_of_win32_error(code), describe_win32_error(code));
}

std::unexpected<PortError> fail_last_error() { return fail_win32(GetLastError()); }

// On opening, "access denied" means another program holds the port.
std::unexpected<PortError> fail_open(DWORD code) {
    if (code == ERROR_ACCESS_DENIED) return fail(Kind::other, describe_win32_error(code));
    return fail_win32(code);
}

std::unexpected<PortError> timed_out() { return fail_win32(ERROR_SEM_TIMEOUT); }

// "COM7" becomes "\\.\COM7", which also reaches COM10 and above; a name that
// already is a device path stays as it is.
std::wstring device_path(std::string_view name) {
    const std::u16string units = utf8_to_utf16(name);
    std::wstring path(reinterpret_cast<const wchar_t*>(units.data()), units.size());
    if (path.starts_with(L"\\\\.\\") || path.starts_with(L"\\\\?\\")) return path;
    return L"\\\\.\\" + path;
}

// Whole milliseconds, rounded up; COMMTIMEOUTS give 0 and MAXDWORD meanings
// of their own, so both are kept out.
DWORD timeout_millis(Duration timeout) {
    constexpr std::uint64_t largest = MAXDWORD - 1;
    if (timeout.seconds >= largest / 1000) return largest;
    const std::uint64_t millis = timeout.seconds * 1000 + (timeout.nanoseconds + 999'999) / 1'000'000;
    return static_cast<DWORD>(std::clamp<std::uint64_t>(millis, 1, largest));
}

PortResult<void> configure_line(HANDLE port, std::uint32_t baud_rate) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(port, &line)) return fail_last_error();
    line.BaudRate = baud_rate;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;  // NUL bytes are data
    line.fRtsControl = RTS_CONTROL_DISABLE;
    line.fAbortOnError = FALSE;
    if (!SetCommState(port, &line)) return fail_last_error();
    return {};
}

// A write ends when it has moved all it asked for, or after `millis` with what
// it moved by then. A read waits for its first byte for as long as it takes,
// then ends when it has all it asked for or the line has been quiet for
// READ_GAP_MILLIS. Reads ask only for what is waiting, or for one byte (see
// WindowsSerialPort::read), so the gap never delays them. The usual way to
// have a read return what is waiting, ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier at MAXDWORD, is not kept by Wine for overlapped
// reads: they wait for the whole count. An interval alone is, on Wine as on
// Windows.
constexpr DWORD READ_GAP_MILLIS = 20;

PortResult<void> set_timeouts(HANDLE port, DWORD millis) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = READ_GAP_MILLIS;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = millis;
    if (!SetCommTimeouts(port, &timeouts)) return fail_last_error();
    return {};
}

// The DCB already raises DTR; this makes it explicit. Virtual ports (and
// Wine's on a pseudo-terminal) have no modem lines and refuse.
PortResult<void> assert_dtr(HANDLE port) {
    if (EscapeCommFunction(port, SETDTR)) return {};
    const DWORD code = GetLastError();
    if (code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION || code == ERROR_INVALID_PARAMETER) return {};
    return fail_win32(code);
}

// A handle that is closed with the object; both INVALID_HANDLE_VALUE (a failed
// CreateFile) and null (a failed CreateEvent) mean none.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&&) = delete;
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() {
        if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) CloseHandle(handle_);
    }
    [[nodiscard]] HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

DWORD clamp_to_dword(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD)); }

// The driver completes a request at the port time-out by itself. A request
// still running this long after it started is cancelled, so that a driver
// that fails to time out cannot hold a thread for good.
DWORD overdue_after(DWORD timeout_millis) {
    constexpr std::uint64_t margin_millis = 1000;
    const std::uint64_t bound = std::uint64_t{timeout_millis} + margin_millis;
    return bound >= INFINITE ? INFINITE : static_cast<DWORD>(bound);
}

// Manual-reset, as GetOverlappedResult expects, and as the interrupt event
// must be to stay set; ReadFile and WriteFile reset it when they start a
// request.
PortResult<UniqueHandle> make_event() {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (event.get() == nullptr) return fail_last_error();
    return event;
}

// How one overlapped request ended: the bytes it moved, and whether it was
// cut short because `stop` was set (a cancelled request may still have moved
// bytes, if it finished before the cancellation reached it).
struct Outcome {
    DWORD moved = 0;
    bool stopped = false;
};

// Starts one overlapped request with `start` (a ReadFile or WriteFile on
// `port`) and waits for it to finish, for `stop` to be set (when there is
// one), or for `limit_millis` to pass; in the last two cases the request is
// cancelled and counts what it moved before, which may be nothing.
template <typename Start>
PortResult<Outcome> run_request(HANDLE port, HANDLE event, HANDLE stop, DWORD limit_millis, Start start) {
    OVERLAPPED request{};
    request.hEvent = event;
    if (!start(&request)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) return fail_win32(code);
    }
    const HANDLE waits[] = {event, stop};
    const DWORD woke = WaitForMultipleObjects(stop == nullptr ? 1 : 2, waits, FALSE, limit_millis);
    bool cancelled = false;
    if (woke != WAIT_OBJECT_0) cancelled = CancelIoEx(port, &request) != FALSE;
    const bool stopped = woke == WAIT_OBJECT_0 + 1;
    // Waits even after a cancellation: the request owns `request` until it
    // has finished.
    DWORD moved = 0;
    if (GetOverlappedResult(port, &request, &moved, TRUE)) return Outcome{moved, stopped};
    const DWORD code = GetLastError();
    if (cancelled && code == ERROR_OPERATION_ABORTED) return Outcome{moved, stopped};
    return fail_win32(code);
}

class WindowsSerialPort final : public SerialPort {
public:
    WindowsSerialPort(UniqueHandle handle, UniqueHandle event, std::shared_ptr<const UniqueHandle> interrupt_event,
                      DWORD timeout_millis)
        : handle_(std::move(handle)),
          event_(std::move(event)),
          interrupt_event_(std::move(interrupt_event)),
          timeout_millis_(timeout_millis) {}

    // The copy has an event of its own, so that it can run a request while
    // this handle runs one.
    PortResult<std::unique_ptr<SerialPort>> duplicate() override {
        HANDLE copy = INVALID_HANDLE_VALUE;
        const HANDLE process = GetCurrentProcess();
        if (!DuplicateHandle(process, handle_.get(), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return fail_last_error();
        UniqueHandle copied(copy);
        auto event = make_event();
        if (!event) return std::unexpected(std::move(event.error()));
        return std::make_unique<WindowsSerialPort>(std::move(copied), std::move(*event), interrupt_event_,
                                                   timeout_millis_);
    }

    // Counts the byte a wait took in, if it was not read yet.
    PortResult<std::size_t> bytes_waiting() override {
        auto queued = queued_in_driver();
        if (!queued) return queued;
        return *queued + (kept_byte_ ? 1 : 0);
    }

    // Asks for the bytes already waiting, which come at once, or, with none
    // waiting, for one byte, which comes when it arrives; that request is
    // cancelled once the port time-out has passed. Wine has ended reads on a
    // port whose device went away with nothing read too, so an empty read
    // asks the port whether it is still there before calling it a time-out.
    PortResult<std::size_t> read(std::span<char> buffer) override {
        if (buffer.empty()) return 0;
        std::size_t kept = 0;
        if (kept_byte_) {
            buffer[0] = *std::exchange(kept_byte_, std::nullopt);
            kept = 1;
            buffer = buffer.subspan(1);
        }
        // With a kept byte in hand, errors wait for the next call.
        const auto waiting = queued_in_driver();
        if (kept > 0 && (!waiting || *waiting == 0 || buffer.empty())) return kept;
        if (!waiting) return std::unexpected(std::move(waiting.error()));
        const std::size_t wanted = std::clamp<std::size_t>(*waiting, 1, buffer.size());
        const auto got = run(timeout_millis_, nullptr, [&](OVERLAPPED* request) {
            return ReadFile(handle_.get(), buffer.data(), clamp_to_dword(wanted), nullptr, request);
        });
        if (kept > 0) return kept + (got ? got->moved : 0);
        if (!got) return std::unexpected(std::move(got.error()));
        if (got->moved > 0) return got->moved;
        if (auto still_there = queued_in_driver(); !still_there)
            return std::unexpected(std::move(still_there.error()));
        return timed_out();
    }

    // One byte asked for, with nothing waiting: the request sleeps in the
    // driver until a byte comes, and WaitForMultipleObjects sleeps on it and
    // on the interrupt event. WaitCommEvent would say the same without taking
    // the byte in, but Wine ends it at once on a pseudo-terminal.
    PortResult<bool> wait_for_input() override {
        if (WaitForSingleObject(interrupt_event_->get(), 0) == WAIT_OBJECT_0) return false;
        const auto waiting = bytes_waiting();
        if (!waiting) return std::unexpected(std::move(waiting.error()));
        if (*waiting > 0) return true;
        char byte = 0;
        const auto got = run(INFINITE, interrupt_event_->get(), [&](OVERLAPPED* request) {
            return ReadFile(handle_.get(), &byte, 1, nullptr, request);
        });
        if (!got) return std::unexpected(std::move(got.error()));
        if (got->moved > 0) kept_byte_ = byte;
        return !got->stopped;
    }

    // Each write is an overlapped request that the driver completes once the
    // port took bytes or the port time-out ran out, so a write that moved
    // nothing has already waited for room as long as the port allows; waiting
    // again here would only delay the next try.
    PortResult<bool> wait_for_output(Duration /*limit*/) override {
        return WaitForSingleObject(interrupt_event_->get(), 0) != WAIT_OBJECT_0;
    }

    void interrupt() noexcept override { SetEvent(interrupt_event_->get()); }

    // A write that accepted nothing within the time-out is reported as a
    // time-out, as on Linux; a partial write returns its length.
    PortResult<std::size_t> write(std::string_view bytes) override {
        if (bytes.empty()) return 0;
        const auto put = run(overdue_after(timeout_millis_), nullptr, [&](OVERLAPPED* request) {
            return WriteFile(handle_.get(), bytes.data(), clamp_to_dword(bytes.size()), nullptr, request);
        });
        if (!put) return std::unexpected(std::move(put.error()));
        if (put->moved == 0) return timed_out();
        return put->moved;
    }

private:
    PortResult<std::size_t> queued_in_driver() {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_.get(), &errors, &status)) return fail_last_error();
        return status.cbInQue;
    }

    template <typename Start>
    PortResult<Outcome> run(DWORD limit_millis, HANDLE stop, Start start) {
        return run_request(handle_.get(), event_.get(), stop, limit_millis, start);
    }

    UniqueHandle handle_;
    UniqueHandle event_;  // for this handle's requests, which run one at a time
    std::shared_ptr<const UniqueHandle> interrupt_event_;  // shared with every duplicate
    DWORD timeout_millis_;  // the port time-out: the write COMMTIMEOUTS, and read()'s own limit
    std::optional<char> kept_byte_;  // taken in by wait_for_input, not read yet
};

}  // namespace

PortResult<std::unique_ptr<SerialPort>> open_serial_port(std::string_view name, const PortSettings& settings) {
    const std::wstring path = device_path(name);
    UniqueHandle port(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
    if (port.get() == INVALID_HANDLE_VALUE) return fail_open(GetLastError());
    if (auto configured = configure_line(port.get(), settings.baud_rate); !configured)
        return std::unexpected(std::move(configured.error()));
    const DWORD millis = timeout_millis(settings.timeout);
    if (auto timeouts = set_timeouts(port.get(), millis); !timeouts)
        return std::unexpected(std::move(timeouts.error()));
    if (auto dtr = assert_dtr(port.get()); !dtr) return std::unexpected(std::move(dtr.error()));
    auto event = make_event();
    if (!event) return std::unexpected(std::move(event.error()));
    auto interrupt_event = make_event();
    if (!interrupt_event) return std::unexpected(std::move(interrupt_event.error()));
    return std::make_unique<WindowsSerialPort>(std::move(port), std::move(*event),
                                               std::make_shared<const UniqueHandle>(std::move(*interrupt_event)),
                                               millis);
}

}  // namespace olvex::serial
