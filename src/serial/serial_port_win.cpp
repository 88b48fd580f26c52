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
// waits only for its own request. The COMMTIMEOUTS still bound every request:
// the driver completes it when the time-out expires.

#include <windows.h>

#include <algorithm>
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

// A read or a write ends when it has moved all it asked for, or after
// `millis` with what it moved by then. Reads ask only for what is waiting (see
// WindowsSerialPort::read), so they do not wait for more. The other way to
// have a read return what is waiting, ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier at MAXDWORD, is not kept by Wine for overlapped
// reads: they wait for the whole count.
PortResult<void> set_timeouts(HANDLE port, DWORD millis) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = millis;
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

// Manual-reset, as GetOverlappedResult expects; ReadFile and WriteFile reset
// it when they start a request.
PortResult<UniqueHandle> make_event() {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (event.get() == nullptr) return fail_last_error();
    return event;
}

// Starts one overlapped request with `start` (a ReadFile or WriteFile on
// `port`) and waits for it to finish; returns how many bytes it moved. A
// request that had to be cancelled counts what it moved before, which may be
// nothing.
template <typename Start>
PortResult<DWORD> run_request(HANDLE port, HANDLE event, DWORD overdue_millis, Start start) {
    OVERLAPPED request{};
    request.hEvent = event;
    if (!start(&request)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) return fail_win32(code);
    }
    bool cancelled = false;
    if (WaitForSingleObject(event, overdue_millis) == WAIT_TIMEOUT) cancelled = CancelIoEx(port, &request) != FALSE;
    // Waits even after a cancellation: the request owns `request` until it
    // has finished.
    DWORD moved = 0;
    if (GetOverlappedResult(port, &request, &moved, TRUE)) return moved;
    const DWORD code = GetLastError();
    if (cancelled && code == ERROR_OPERATION_ABORTED) return moved;
    return fail_win32(code);
}

class WindowsSerialPort final : public SerialPort {
public:
    WindowsSerialPort(UniqueHandle handle, UniqueHandle event, DWORD timeout_millis)
        : handle_(std::move(handle)), event_(std::move(event)), timeout_millis_(timeout_millis) {}

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
        return std::make_unique<WindowsSerialPort>(std::move(copied), std::move(*event), timeout_millis_);
    }

    PortResult<std::size_t> bytes_waiting() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_.get(), &errors, &status)) return fail_last_error();
        return status.cbInQue;
    }

    // Asks for the bytes already waiting, which come at once, or, with none
    // waiting, for one byte, which comes when it arrives. An expired read
    // time-out is a success with nothing read, and Wine has ended reads on a
    // port whose device went away the same way, so an empty read asks the
    // port whether it is still there before calling it a time-out.
    PortResult<std::size_t> read(std::span<char> buffer) override {
        if (buffer.empty()) return 0;
        const auto waiting = bytes_waiting();
        if (!waiting) return std::unexpected(std::move(waiting.error()));
        const std::size_t wanted = std::clamp<std::size_t>(*waiting, 1, buffer.size());
        const auto got = run([&](OVERLAPPED* request) {
            return ReadFile(handle_.get(), buffer.data(), clamp_to_dword(wanted), nullptr, request);
        });
        if (!got) return std::unexpected(std::move(got.error()));
        if (*got > 0) return *got;
        if (auto still_there = bytes_waiting(); !still_there) return std::unexpected(std::move(still_there.error()));
        return timed_out();
    }

    // A write that accepted nothing within the time-out is reported as a
    // time-out, as on Linux; a partial write returns its length.
    PortResult<std::size_t> write(std::string_view bytes) override {
        if (bytes.empty()) return 0;
        const auto put = run([&](OVERLAPPED* request) {
            return WriteFile(handle_.get(), bytes.data(), clamp_to_dword(bytes.size()), nullptr, request);
        });
        if (!put) return std::unexpected(std::move(put.error()));
        if (*put == 0) return timed_out();
        return *put;
    }

private:
    template <typename Start>
    PortResult<DWORD> run(Start start) {
        return run_request(handle_.get(), event_.get(), overdue_after(timeout_millis_), start);
    }

    UniqueHandle handle_;
    UniqueHandle event_;    // for this handle's requests, which run one at a time
    DWORD timeout_millis_;  // the port's time-out, as set in its COMMTIMEOUTS
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
    return std::make_unique<WindowsSerialPort>(std::move(port), std::move(*event), millis);
}

}  // namespace olvex::serial
