#include "terminal_linux.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <utility>

#include "system_error_linux.hpp"

namespace olvex::simulator {
namespace {

constexpr std::string_view ENTER_SCREEN = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";
constexpr std::string_view LEAVE_SCREEN = "\x1b[0m\x1b[?25h\x1b[?1049l";

termios saved_line{};
int signal_pipe[2] = {-1, -1};

void write_out(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

extern "C" void note_signal(int number) {
    const int saved_errno = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const auto ignored = ::write(signal_pipe[1], &byte, 1);
    errno = saved_errno;
}

}  // namespace

std::expected<FullScreenTerminal, Error> FullScreenTerminal::enter() {
    if (::tcgetattr(STDIN_FILENO, &saved_line) != 0) {
        return std::unexpected(system_error("standard input is not a terminal (use --script for a scripted run)"));
    }
    termios raw = saved_line;
    ::cfmakeraw(&raw);
    raw.c_oflag |= OPOST | ONLCR;  // keep "\n" meaning a new line for stray output
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) return std::unexpected(system_error("tcsetattr"));
    FullScreenTerminal terminal;
    terminal.active_ = true;
    write_out(ENTER_SCREEN);
    return terminal;
}

FullScreenTerminal::FullScreenTerminal(FullScreenTerminal&& other) noexcept
    : active_(std::exchange(other.active_, false)) {}

FullScreenTerminal::~FullScreenTerminal() {
    if (!active_) return;
    write_out(LEAVE_SCREEN);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_line);
}

TerminalSize FullScreenTerminal::size() {
    winsize window{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) != 0 || window.ws_col == 0 || window.ws_row == 0) return {};
    return {window.ws_col, window.ws_row};
}

void FullScreenTerminal::draw(const std::vector<std::string>& lines) {
    std::string frame = "\x1b[H";
    for (const auto& line : lines) {
        frame += line;
        frame += "\x1b[0m\x1b[K\r\n";
    }
    frame += "\x1b[J";
    write_out(frame);
}

std::expected<void, Error> SignalPipe::install() {
    if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return std::unexpected(system_error("pipe2"));
    struct sigaction action{};
    action.sa_handler = note_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGWINCH, SIGCHLD}) {
        if (::sigaction(number, &action, nullptr) != 0) return std::unexpected(system_error("sigaction"));
    }
    std::signal(SIGPIPE, SIG_IGN);
    return {};
}

int SignalPipe::read_end() { return signal_pipe[0]; }

SignalPipe::Arrived SignalPipe::take() {
    Arrived arrived;
    char numbers[64];
    ssize_t count = 0;
    while ((count = ::read(signal_pipe[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            const int number = numbers[i];
            arrived.resized |= number == SIGWINCH;
            arrived.child |= number == SIGCHLD;
            arrived.ended |= number == SIGINT || number == SIGTERM || number == SIGHUP;
        }
    }
    return arrived;
}

}  // namespace olvex::simulator
