#include "simulator_linux.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fmt/format.h>
#include <fstream>
#include <variant>

#include "companion_process_linux.hpp"
#include "protocol/line_buffer.hpp"
#include "host_messages.hpp"
#include "keys.hpp"
#include "pty_linux.hpp"
#include "screen.hpp"
#include "script.hpp"
#include "system_error_linux.hpp"
#include "terminal_linux.hpp"

namespace olvex::simulator {
namespace {

// The art line is about 22 kB; the device's own reading must hold it whole.
constexpr std::size_t LONGEST_LINE = 64 * 1024;
constexpr int TICK_MS = 250;
constexpr auto DRAIN_LIMIT = std::chrono::seconds(1);
constexpr std::size_t COMPANION_LINES_KEPT = 3;
constexpr std::size_t SHOWN_LINE_PREFIX = 60;

void print_error(std::string_view text) { std::fputs(fmt::format("olvex-simulator: {}\n", text).c_str(), stderr); }

std::expected<void, Error> write_port_file(const std::string& file, const std::string& port) {
    const std::string partial = file + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << port << '\n';
        if (!out) return make_error("cannot write " + partial);
    }
    if (::rename(partial.c_str(), file.c_str()) != 0) return std::unexpected(system_error("renaming " + partial));
    return {};
}

// Reads what is there without waiting: the bytes, or nothing at the end of
// the input (or on an error other than "try again").
std::optional<std::string> read_available(int fd) {
    char buffer[8192];
    const auto count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) return std::string(buffer, static_cast<std::size_t>(count));
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return std::string();
    return std::nullopt;
}

class Simulator {
public:
    Simulator(const SimulatorOptions& options, Pty pty)
        : options_(options), pty_(std::move(pty)), facts_{pty_.slave_path(), {}} {}

    int run();

private:
    [[nodiscard]] bool scripted() const { return options_.script.has_value(); }
    std::expected<void, Error> start();
    std::vector<pollfd> poll_set() const;
    [[nodiscard]] int poll_timeout_ms(Clock::time_point now) const;
    void serve(const std::vector<pollfd>& ready);
    void read_port();
    void handle_line(const std::string& line);
    void accept_message(const protocol::HostMessage& message, const std::string& line);
    void send_event(const protocol::DeviceEvent& event);
    void send_line(const std::string& line);
    void press(const Key& key);
    void read_keys();
    void read_script();
    void advance_script();
    void read_companion();
    void check_companion();
    // A received line the device cannot use.
    void refuse(std::string reason);
    // Any other problem worth showing.
    void report(std::string problem);
    void finish(int status) { exit_status_ = status; }
    void redraw();

    const SimulatorOptions& options_;
    Pty pty_;
    ScreenFacts facts_;
    DeviceState state_;
    protocol::LineBuffer port_lines_{LONGEST_LINE};
    std::optional<FullScreenTerminal> terminal_;
    std::optional<CompanionProcess> companion_;
    std::string companion_pending_;
    KeyReader keys_;
    ScriptRunner script_;
    int script_fd_ = -1;
    std::string script_pending_;
    std::size_t script_line_number_ = 0;
    std::optional<Clock::time_point> script_wake_;
    std::vector<std::string> last_frame_;
    std::optional<int> exit_status_;
};

std::expected<void, Error> Simulator::start() {
    std::fputs(fmt::format("OLVEX_AUDIO_PORT={}\n", pty_.slave_path()).c_str(), stderr);
    if (options_.port_file) {
        if (auto written = write_port_file(*options_.port_file, pty_.slave_path()); !written) return written;
    }
    if (auto signals = SignalPipe::install(); !signals) return signals;
    if (scripted()) {
        script_fd_ = *options_.script == "-" ? STDIN_FILENO : ::open(options_.script->c_str(), O_RDONLY | O_CLOEXEC);
        if (script_fd_ < 0) return std::unexpected(system_error("opening " + *options_.script));
    } else {
        auto terminal = FullScreenTerminal::enter();
        if (!terminal) return std::unexpected(terminal.error());
        terminal_.emplace(std::move(*terminal));
    }
    if (!options_.run.empty()) {
        auto companion = CompanionProcess::start(options_.run, pty_.slave_path());
        if (!companion) return std::unexpected(companion.error());
        companion_.emplace(std::move(*companion));
    }
    return {};
}

std::vector<pollfd> Simulator::poll_set() const {
    std::vector<pollfd> set = {{pty_.master(), POLLIN, 0}, {SignalPipe::read_end(), POLLIN, 0}};
    if (scripted() && script_fd_ >= 0) set.push_back({script_fd_, POLLIN, 0});
    if (!scripted()) set.push_back({STDIN_FILENO, POLLIN, 0});
    if (companion_ && companion_->output_fd() >= 0) set.push_back({companion_->output_fd(), POLLIN, 0});
    return set;
}

int Simulator::poll_timeout_ms(Clock::time_point now) const {
    if (!script_wake_) return TICK_MS;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*script_wake_ - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, TICK_MS));
}

void Simulator::serve(const std::vector<pollfd>& ready) {
    for (const pollfd& entry : ready) {
        if ((entry.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        if (entry.fd == pty_.master()) {
            read_port();
        } else if (entry.fd == SignalPipe::read_end()) {
            const auto arrived = SignalPipe::take();
            if (arrived.child) check_companion();
            if (arrived.ended) finish(scripted() ? 1 : 0);
            if (arrived.resized) last_frame_.clear();
        } else if (scripted() && entry.fd == script_fd_) {
            read_script();
        } else if (entry.fd == STDIN_FILENO) {
            read_keys();
        } else {
            read_companion();
        }
    }
}

void Simulator::read_port() {
    const auto bytes = read_available(pty_.master());
    if (!bytes) return;  // no reader on the other side right now: the slave we hold keeps the line up
    port_lines_.append(*bytes);
    while (auto line = port_lines_.take_line()) handle_line(*line);
}

void Simulator::handle_line(const std::string& line) {
    // The program starts a link with a lone line feed to end any partial
    // line; an empty line carries nothing.
    if (line.empty()) return;
    auto message = decode_host_message(line);
    if (!message) {
        refuse(fmt::format("{}: {}", message.error().message, fit_to_width(line, SHOWN_LINE_PREFIX)));
        return;
    }
    accept_message(*message, line);
}

void Simulator::accept_message(const protocol::HostMessage& message, const std::string& line) {
    ++state_.lines.accepted;
    if (scripted()) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        script_.message_received(std::string(protocol::wire_name(message)), line);
    }
    if (!is_canonical(line, message)) {
        report(fmt::format("{} line is not written as the program writes it: {}", protocol::wire_name(message),
                           fit_to_width(line, SHOWN_LINE_PREFIX)));
    }
    if (auto error = apply_message(state_, message, Clock::now())) report(error->message);
    if (std::holds_alternative<protocol::Hello>(message)) send_event(simulator_hello_ack());
}

void Simulator::refuse(std::string reason) {
    ++state_.lines.refused;
    report(std::move(reason));
}

void Simulator::report(std::string problem) {
    if (scripted()) print_error(problem);
    state_.last_error = std::move(problem);
}

void Simulator::send_event(const protocol::DeviceEvent& event) { send_line(encode_device_event(event)); }

void Simulator::send_line(const std::string& line) {
    if (auto written = pty_.write_all(line); !written) {
        report(written.error().message);
        return;
    }
    state_.last_sent = line.substr(0, line.find('\n'));
    if (scripted()) print_error("sent " + state_.last_sent);
}

void Simulator::press(const Key& key) {
    if (key.action == Action::quit) {
        finish(0);
        return;
    }
    if (auto event = event_for_key(key, state_, Clock::now())) send_event(*event);
}

void Simulator::read_keys() {
    const auto bytes = read_available(STDIN_FILENO);
    if (!bytes) {
        finish(0);
        return;
    }
    for (const Key& key : keys_.feed(*bytes)) press(key);
}

void Simulator::read_script() {
    const auto bytes = read_available(script_fd_);
    const bool ended = !bytes;
    script_pending_ += ended ? std::string("\n") : *bytes;
    for (auto end = script_pending_.find('\n'); end != std::string::npos; end = script_pending_.find('\n')) {
        const std::string line = script_pending_.substr(0, end);
        script_pending_.erase(0, end + 1);
        ++script_line_number_;
        auto command = parse_script_line(line);
        if (!command) {
            print_error(fmt::format("script line {}: {}", script_line_number_, command.error().message));
            finish(2);
            return;
        }
        if (*command) script_.add(std::move(**command));
    }
    if (!ended) return;
    script_.finish_input();
    if (script_fd_ != STDIN_FILENO) ::close(script_fd_);
    script_fd_ = -1;
}

void Simulator::advance_script() {
    while (!exit_status_) {
        const ScriptStep step = script_.next(Clock::now());
        script_wake_.reset();
        if (const auto* wait = std::get_if<ScriptWait>(&step)) {
            script_wake_ = wait->until;
            return;
        }
        if (const auto* end = std::get_if<ScriptEnd>(&step)) {
            if (!end->reason.empty()) print_error(end->reason);
            finish(end->status);
        } else if (const auto* send = std::get_if<SendLine>(&step)) {
            send_line(send->line + "\n");
        } else {
            press(std::get<PressKey>(step).key);
        }
    }
}

void Simulator::read_companion() {
    const auto bytes = read_available(companion_->output_fd());
    if (!bytes) {
        companion_->output_ended();
        return;
    }
    if (scripted()) {
        std::fputs(bytes->c_str(), stderr);
        return;
    }
    companion_pending_ += *bytes;
    for (auto end = companion_pending_.find('\n'); end != std::string::npos; end = companion_pending_.find('\n')) {
        facts_.companion_output.push_back(companion_pending_.substr(0, end));
        companion_pending_.erase(0, end + 1);
    }
    auto& kept = facts_.companion_output;
    if (kept.size() > COMPANION_LINES_KEPT) kept.erase(kept.begin(), kept.end() - COMPANION_LINES_KEPT);
}

void Simulator::check_companion() {
    if (!companion_) return;
    const auto status = companion_->exited();
    if (!status) return;
    const std::string text = WIFEXITED(*status) ? fmt::format("the program ended with status {}", WEXITSTATUS(*status))
                                                : fmt::format("the program ended by signal {}", WTERMSIG(*status));
    if (scripted()) print_error(text);
    facts_.companion_output.push_back(text);
}

void Simulator::redraw() {
    if (!terminal_) return;
    auto frame = compose_screen(state_, facts_, Clock::now(), FullScreenTerminal::size());
    if (frame == last_frame_) return;
    FullScreenTerminal::draw(frame);
    last_frame_ = std::move(frame);
}

int Simulator::run() {
    if (auto started = start(); !started) {
        terminal_.reset();
        print_error(started.error().message);
        return 1;
    }
    while (!exit_status_) {
        if (scripted()) advance_script();
        redraw();
        if (exit_status_) break;
        auto set = poll_set();
        const int ready = ::poll(set.data(), set.size(), poll_timeout_ms(Clock::now()));
        if (ready < 0 && errno != EINTR) {
            print_error(system_error("poll").message);
            finish(1);
        }
        if (ready > 0) serve(set);
    }
    terminal_.reset();
    pty_.drain(DRAIN_LIMIT);
    companion_.reset();
    return *exit_status_;
}

}  // namespace

int run_simulator(const SimulatorOptions& options) {
    auto pty = Pty::open();
    if (!pty) {
        print_error(pty.error().message);
        return 1;
    }
    Simulator simulator(options, std::move(*pty));
    return simulator.run();
}

}  // namespace olvex::simulator
