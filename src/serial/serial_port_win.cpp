// The serial port on Windows: a COM device opened exclusively for synchronous
// I/O, with a DCB for 8N1 without flow control and COMMTIMEOUTS for the
// time-out.
//
// Both handles of a port (see duplicate) refer to one file object, and the
// system runs the synchronous calls on one file object one after the other.
// So the reader's and the writer's calls can delay each other by at most one
// time-out. The reader reads only when bytes are waiting, so its reads return
// at once.

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
        case ERROR_SEM_TIMEOUT:
        case WAIT_TIMEOUT:
            return Kind::timeout;
        // What the system and the USB serial drivers report once the device
        // has been unplugged. Wine reports a hung-up tty as ERROR_NOT_READY.
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
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

// A read returns at once with whatever is waiting; with nothing waiting it
// returns as soon as one byte arrives, or empty after `millis`. A write gives
// up after `millis`.
PortResult<void> set_timeouts(HANDLE port, DWORD millis) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
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

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&&) = delete;
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    [[nodiscard]] HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

DWORD clamp_to_dword(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD)); }

class WindowsSerialPort final : public SerialPort {
public:
    explicit WindowsSerialPort(UniqueHandle handle) : handle_(std::move(handle)) {}

    PortResult<std::unique_ptr<SerialPort>> duplicate() override {
        HANDLE copy = INVALID_HANDLE_VALUE;
        const HANDLE process = GetCurrentProcess();
        if (!DuplicateHandle(process, handle_.get(), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return fail_last_error();
        return std::make_unique<WindowsSerialPort>(UniqueHandle(copy));
    }

    PortResult<std::size_t> bytes_waiting() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_.get(), &errors, &status)) return fail_last_error();
        return status.cbInQue;
    }

    // An expired read time-out is a success with nothing read. Wine reports a
    // port whose device went away the same way, so an empty read asks the port
    // whether it is still there before calling it a time-out.
    PortResult<std::size_t> read(std::span<char> buffer) override {
        if (buffer.empty()) return 0;
        DWORD got = 0;
        if (!ReadFile(handle_.get(), buffer.data(), clamp_to_dword(buffer.size()), &got, nullptr))
            return fail_last_error();
        if (got > 0) return got;
        if (auto still_there = bytes_waiting(); !still_there) return std::unexpected(std::move(still_there.error()));
        return timed_out();
    }

    // A write that accepted nothing within the time-out is reported as a
    // time-out, as on Linux; a partial write returns its length.
    PortResult<std::size_t> write(std::string_view bytes) override {
        if (bytes.empty()) return 0;
        DWORD put = 0;
        if (!WriteFile(handle_.get(), bytes.data(), clamp_to_dword(bytes.size()), &put, nullptr))
            return fail_last_error();
        if (put == 0) return timed_out();
        return put;
    }

private:
    UniqueHandle handle_;
};

}  // namespace

PortResult<std::unique_ptr<SerialPort>> open_serial_port(std::string_view name, const PortSettings& settings) {
    const std::wstring path = device_path(name);
    UniqueHandle port(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (port.get() == INVALID_HANDLE_VALUE) return fail_open(GetLastError());
    if (auto configured = configure_line(port.get(), settings.baud_rate); !configured)
        return std::unexpected(std::move(configured.error()));
    if (auto timeouts = set_timeouts(port.get(), timeout_millis(settings.timeout)); !timeouts)
        return std::unexpected(std::move(timeouts.error()));
    if (auto dtr = assert_dtr(port.get()); !dtr) return std::unexpected(std::move(dtr.error()));
    return std::make_unique<WindowsSerialPort>(std::move(port));
}

}  // namespace olvex::serial
