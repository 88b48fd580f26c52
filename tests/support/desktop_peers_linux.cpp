#include "support/desktop_peers_linux.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>

extern char** environ;

namespace olvex::testing_support {
namespace {

using namespace std::chrono_literals;

std::string variable_name(const std::string& setting) { return setting.substr(0, setting.find('=')); }

// The current environment with `extra` added, later entries replacing
// earlier ones of the same name.
std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
    std::vector<std::string> settings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string setting(*entry);
        bool replaced = false;
        for (const auto& added : extra) replaced = replaced || variable_name(added) == variable_name(setting);
        if (!replaced) settings.push_back(setting);
    }
    settings.insert(settings.end(), extra.begin(), extra.end());
    return settings;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// `options` ("a=1:suppressions=/x/y.txt:b=2") with the suppressions file
// copied to `copy` and named there instead; nothing if no file is named.
std::optional<std::string> with_suppressions_copied(const std::string& options, const std::filesystem::path& copy) {
    constexpr std::string_view key = "suppressions=";
    std::string result;
    bool copied = false;
    std::istringstream items(options);
    for (std::string item; std::getline(items, item, ':');) {
        if (item.starts_with(key)) {
            std::filesystem::copy_file(item.substr(key.size()), copy, std::filesystem::copy_options::overwrite_existing);
            using std::filesystem::perms;
            std::filesystem::permissions(copy, perms::owner_read | perms::owner_write | perms::group_read |
                                                   perms::others_read);
            item = std::string(key) + copy.string();
            copied = true;
        }
        result += (result.empty() ? "" : ":") + item;
    }
    if (!copied) return std::nullopt;
    return result;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// Where `name` is found the way a shell finds it.
std::optional<std::string> path_of_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* search = std::getenv("PATH");
    std::istringstream folders(search != nullptr ? search : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const auto candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::nullopt;
}

}  // namespace

bool program_available(const std::string& program) {
    return run_command("command -v " + shell_quoted(program) + " >/dev/null").has_value();
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::optional<std::string> run_command(const std::string& command_line) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command_line.c_str(), "r"), ::pclose);
    if (!pipe) return std::nullopt;
    std::string output;
    std::array<char, 4096> chunk{};
    while (const std::size_t count = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) {
        output.append(chunk.data(), count);
    }
    const int status = ::pclose(pipe.release());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return output;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> extra_environment,
                           std::optional<std::filesystem::path> output) {
    const auto program = path_of_program(argv.at(0));
    if (!program) return;
    const std::string sink = output ? output->string() : "/dev/null";
    auto settings = environment_with(extra_environment);
    auto arguments = pointers_to(argv);
    auto environment = pointers_to(settings);
    const pid_t parent = ::getpid();
    // Everything is prepared before the fork: the child only makes system
    // calls until it executes the program.
    const pid_t child = ::fork();
    if (child == 0) {
        // A process group of its own, so that ending it also ends what it
        // started (a player's helpers, say); and an end of its own should the
        // test die before it could end the program itself.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int input = ::open("/dev/null", O_RDONLY);
        const int out = ::open(sink.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (input < 0 || out < 0) ::_exit(127);
        ::dup2(input, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execve(program->c_str(), arguments.data(), environment.data());
        ::_exit(127);
    }
    pid_ = child > 0 ? child : 0;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)), status_(other.status_) {}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::running() { return pid_ > 0 && !wait_for_exit(0ms).has_value(); }

std::optional<int> ChildProcess::wait_for_exit(std::chrono::milliseconds limit) {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    const auto reaped = [this] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        status_ = status;
        return true;
    };
    if (reaped() || (limit > 0ms && wait_until(reaped, limit))) return status_;
    return std::nullopt;
}

int ChildProcess::stop() {
    if (pid_ <= 0) return -1;
    if (!wait_for_exit(0ms)) {
        ::kill(-pid_, SIGTERM);
        if (!wait_for_exit(2s)) {
            ::kill(-pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = status;
        }
    }
    ::kill(-pid_, SIGKILL);  // whatever of the group outlived its leader
    return *status_;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* previous = std::getenv(name_.c_str())) previous_ = previous;
    ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

PrivateSessionBus::PrivateSessionBus() {
    const auto config = folder_.path() / "bus.xml";
    write_file(config,
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <include>/usr/share/dbus-1/session.conf</include>\n"
               "  <policy context=\"default\"><allow user=\"*\"/></policy>\n"
               "</busconfig>\n");
    const auto address_file = folder_.path() / "address";
    daemon_.emplace(std::vector<std::string>{"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                                             "--print-address=1", "--nopidfile"},
                    std::vector<std::string>{}, address_file);
    if (daemon_->pid() == 0) return;
    std::string printed;
    if (wait_until([&] {
            printed = read_file(address_file);
            return printed.find('\n') != std::string::npos;
        })) {
        address_ = first_line(printed);
    }
}

PrivatePulseServer::PrivatePulseServer(const std::vector<std::string>& sink_names) : sink_names_(sink_names) {
    server_ = "unix:" + (folder_.path() / "pulse.sock").string();
    ::chmod(folder_.path().c_str(), 0755);
    start();
}

bool PrivatePulseServer::restart() {
    daemon_.reset();
    start();
    return started_;
}

void PrivatePulseServer::start() {
    const auto socket = folder_.path() / "pulse.sock";
    std::vector<std::string> argv{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                                  "--use-pid-file=no", "--disable-shm=yes", "-L",
                                  "module-native-protocol-unix auth-anonymous=1 socket=" + socket.string()};
    for (const auto& sink : sink_names_) {
        argv.insert(argv.end(), {"-L", "module-null-sink sink_name=" + sink});
    }
    const auto home = folder_.path().string();
    daemon_.emplace(std::move(argv),
                    std::vector<std::string>{"HOME=" + home, "XDG_RUNTIME_DIR=" + home, "XDG_CONFIG_HOME=" + home,
                                             "DBUS_SESSION_BUS_ADDRESS=", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"},
                    folder_.path() / "pulseaudio.log");
    started_ = daemon_->pid() != 0 && wait_until([this] { return pactl({"info"}).has_value(); });
}

std::optional<std::string> PrivatePulseServer::pactl(const std::vector<std::string>& arguments) const {
    std::string command = "PULSE_SERVER=" + shell_quoted(server_) + " pactl";
    for (const auto& argument : arguments) command += " " + shell_quoted(argument);
    return run_command(command + " 2>/dev/null");
}

namespace {

constexpr const char* NULL_SINK_DROP_IN = R"(context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = testsink media.class = Audio/Sink
               audio.position = [ FL FR ] } }
]
)";

}  // namespace

PrivatePipeWire::PrivatePipeWire(const std::string& bus_address)
    : runtime_(folder_.path() / "runtime"), bus_address_(bus_address) {
    std::filesystem::create_directories(runtime_);
    ::chmod(runtime_.c_str(), 0700);
    const auto drop_ins = folder_.path() / "config" / "pipewire" / "pipewire.conf.d";
    std::filesystem::create_directories(drop_ins);
    write_file(drop_ins / "test-sink.conf", NULL_SINK_DROP_IN);
    write_file(folder_.path() / "client.conf", "autospawn = no\n");
    pipewire_.emplace(start("pipewire"));
    if (!wait_until([this] { return std::filesystem::exists(runtime_ / "pipewire-0"); })) return;
    session_manager_.emplace(start("wireplumber"));
    started_ = restart_pulse_server() && wait_until([this] {
                   return pactl({"get-default-sink"}).value_or("") == "testsink\n";
               });
}

std::vector<std::string> PrivatePipeWire::client_environment() const {
    return {"XDG_RUNTIME_DIR=" + runtime_.string(), "PIPEWIRE_RUNTIME_DIR=" + runtime_.string(),
            "PULSE_SERVER=unix:" + (runtime_ / "pulse" / "native").string(),
            "PULSE_CLIENTCONFIG=" + (folder_.path() / "client.conf").string()};
}

std::vector<std::string> PrivatePipeWire::daemon_environment() const {
    auto settings = client_environment();
    const auto home = folder_.path().string();
    settings.insert(settings.end(), {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                                     "XDG_STATE_HOME=" + home + "/state", "DBUS_SESSION_BUS_ADDRESS=" + bus_address_,
                                     "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"});
    return settings;
}

ChildProcess PrivatePipeWire::start(const std::string& program) const {
    return ChildProcess({program}, daemon_environment(), folder_.path() / (program + ".log"));
}

bool PrivatePipeWire::restart_pulse_server() {
    pulse_server_.reset();
    pulse_server_.emplace(start("pipewire-pulse"));
    return wait_until([this] { return pactl({"info"}).has_value(); });
}

std::optional<std::string> PrivatePipeWire::pactl(const std::vector<std::string>& arguments) const {
    std::string command;
    for (const auto& setting : client_environment()) command += shell_quoted(setting) + " ";
    command = "env " + command + "pactl";
    for (const auto& argument : arguments) command += " " + shell_quoted(argument);
    return run_command(command + " 2>/dev/null");
}

std::vector<std::string> sanitizer_settings_for_other_user(const std::filesystem::path& folder) {
    std::vector<std::string> settings;
    for (const std::string name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* options = std::getenv(name.c_str());
        if (options == nullptr) continue;
        if (auto readable = with_suppressions_copied(options, folder / (name + "-suppressions.txt"))) {
            settings.push_back(name + "=" + *readable);
        }
    }
    return settings;
}

std::vector<SampleTrack> make_sample_tracks(const std::filesystem::path& folder) {
    const auto script = std::filesystem::path(OLVEX_SOURCE_DIR) / "tools" / "make-sample-tracks.sh";
    const auto output = run_command(shell_quoted(script.string()) + " " + shell_quoted(folder.string()));
    if (!output) return {};
    std::vector<SampleTrack> tracks;
    std::istringstream lines(*output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        SampleTrack track;
        std::string file;
        if (std::getline(fields, file, '\t') && std::getline(fields, track.title, '\t') &&
            std::getline(fields, track.artist, '\t') && std::getline(fields, track.album, '\t')) {
            track.file = file;
            tracks.push_back(std::move(track));
        }
    }
    return tracks;
}

}  // namespace olvex::testing_support
