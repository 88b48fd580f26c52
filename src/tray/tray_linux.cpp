#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "base/unique_fd_linux.hpp"
#include "log/log.hpp"
#include "tray/status_notifier_linux.hpp"
#include "tray/tray.hpp"

// The tray's thread polls three things: the quit signals (SIGINT and SIGTERM,
// which end the program as "Quit" does), a wake-up that other threads post
// when the icon or tooltip changes or "Quit" is chosen (the Linux side of
// posting a window message), and the StatusNotifierItem's bus connection.
// With no session bus the program runs on without an icon.

namespace olvex::tray {

namespace {

sigset_t quit_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// The running tray's wake-up, which other threads post to. The window value
// the handle publishes is the wake-up's descriptor plus one (0 means none).
struct TrayWakeUp {
    std::mutex mutex;
    int fd = -1;
    bool quit = false;
};

TrayWakeUp& wake_up() {
    static TrayWakeUp slot;
    return slot;
}

void post_wake_up(const TrayWakeUp& slot) {
    const std::uint64_t one = 1;
    // Only a full counter fails, and then a wake-up is pending anyway.
    [[maybe_unused]] const auto written = ::write(slot.fd, &one, sizeof one);
}

// Publishes `fd` as the wake-up until destroyed, and the handle's window with it.
class PublishedWakeUp {
public:
    PublishedWakeUp(TrayHandle& handle, int fd) : handle_(handle) {
        auto& slot = wake_up();
        const std::lock_guard lock(slot.mutex);
        slot.fd = fd;
        slot.quit = false;
        handle_.set_window(static_cast<std::uintptr_t>(fd) + 1);
    }
    PublishedWakeUp(const PublishedWakeUp&) = delete;
    PublishedWakeUp& operator=(const PublishedWakeUp&) = delete;
    ~PublishedWakeUp() {
        auto& slot = wake_up();
        const std::lock_guard lock(slot.mutex);
        handle_.set_window(0);
        slot.fd = -1;
    }

    // Takes what the wake-up brought; whether "Quit" was chosen.
    [[nodiscard]] static bool take(int fd) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(fd, &count, sizeof count);
        auto& slot = wake_up();
        const std::lock_guard lock(slot.mutex);
        return slot.quit;
    }

private:
    TrayHandle& handle_;
};

std::unique_ptr<StatusNotifier> start_status_notifier(std::shared_ptr<TrayHandle> handle, std::vector<MenuEntry> menu,
                                                      CommandAction action) {
    try {
        return std::make_unique<StatusNotifier>(std::move(handle), std::move(menu), std::move(action));
    } catch (const sdbus::Error& error) {
        log_message("tray: no icon, the session bus cannot be reached: " + error.getMessage());
        return nullptr;
    }
}

// Waits for the next event; whether the tray should go on.
bool serve_once(StatusNotifier* notifier, int signals, int wake) {
    std::array<pollfd, 3> watched{{{signals, POLLIN, 0}, {wake, POLLIN, 0}, {-1, 0, 0}}};
    if (notifier != nullptr) {
        const auto bus = notifier->poll_data();
        watched[2] = {bus.fd, bus.events, 0};
    }
    const int timeout = notifier != nullptr ? notifier->poll_timeout_ms() : -1;
    if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
        throw std::runtime_error(std::string("tray: poll failed: ") + std::strerror(errno));
    }
    if (watched[0].revents != 0) return false;
    if (watched[1].revents != 0) {
        if (PublishedWakeUp::take(wake)) return false;
        if (notifier != nullptr) notifier->show_changes();
    }
    return true;
}

// Serves the icon until a quit signal or "Quit"; without a notifier only
// waits for those.
void serve(std::unique_ptr<StatusNotifier> notifier, int signals, int wake) {
    for (;;) {
        try {
            if (notifier) notifier->process();
            if (!serve_once(notifier.get(), signals, wake)) return;
        } catch (const sdbus::Error& error) {
            log_message("tray: the icon is gone, the session bus connection failed: " + error.getMessage());
            notifier.reset();
        }
    }
}

}  // namespace

void prepare_quit_signals() {
    const sigset_t signals = quit_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::expected<std::vector<TrayIcon>, Error> load_tray_icons() {
    return std::vector<TrayIcon>{{ICON_NO_DEVICE, 0}, {ICON_CONNECTED, 0}};
}

std::expected<void, Error> run_tray(std::shared_ptr<TrayHandle> handle, std::vector<TrayIcon>,
                                    std::vector<MenuEntry> menu, CommandAction command_action) {
    // The signals must be blocked on this thread too. Threads started before
    // prepare_quit_signals would still take them with the default action: the
    // process would end by the signal instead of with status 0.
    const sigset_t signals = quit_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const UniqueFd signal_fd(::signalfd(-1, &signals, SFD_CLOEXEC));
    const UniqueFd wake_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (signal_fd.get() < 0 || wake_fd.get() < 0) {
        return make_error(std::string("the tray cannot wait for events: ") + std::strerror(errno));
    }
    // Published before the item reads the handle: a change in between wakes
    // the tray and is shown.
    const PublishedWakeUp published(*handle, wake_fd.get());
    serve(start_status_notifier(handle, std::move(menu), std::move(command_action)), signal_fd.get(), wake_fd.get());
    // The program entry returns from main with status 0; the icon leaves
    // with the connection.
    return {};
}

void run_menu_command(std::uint16_t command) {
    if (command != COMMAND_QUIT) return;
    // With the tray running, "Quit" ends it as a quit signal does; without, at once.
    auto& slot = wake_up();
    const std::lock_guard lock(slot.mutex);
    if (slot.fd < 0) std::_Exit(0);
    slot.quit = true;
    post_wake_up(slot);
}

void post_tray_message(std::uintptr_t window, std::uint32_t) {
    auto& slot = wake_up();
    const std::lock_guard lock(slot.mutex);
    if (slot.fd >= 0 && window == static_cast<std::uintptr_t>(slot.fd) + 1) post_wake_up(slot);
}

}  // namespace olvex::tray
