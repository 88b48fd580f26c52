#include <pthread.h>
#include <signal.h>

#include <cstdlib>

#include "tray/tray.hpp"

// There is no notification-area icon on Linux yet. The window's message loop
// becomes a wait for SIGINT or SIGTERM, which end the program as "Quit" does
// on Windows; set-icon and set-tooltip only store their values, since the
// window handle stays 0.

namespace olvex::tray {

namespace {

sigset_t quit_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void prepare_quit_signals() {
    const sigset_t signals = quit_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::expected<std::vector<TrayIcon>, Error> load_tray_icons() {
    return std::vector<TrayIcon>{{ICON_NO_DEVICE, 0}, {ICON_CONNECTED, 0}};
}

std::expected<void, Error> run_tray(std::shared_ptr<TrayHandle>, std::vector<TrayIcon>, std::vector<MenuEntry>,
                                    CommandAction) {
    // sigwait needs the signals blocked on this thread too. Threads started
    // before prepare_quit_signals would still take them with the default
    // action: the process would end by the signal instead of with status 0.
    const sigset_t signals = quit_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    // The program entry returns from main with status 0, as after "Quit".
    return {};
}

void run_menu_command(std::uint16_t command) {
    if (command == COMMAND_QUIT) std::_Exit(0);
}

void post_tray_message(std::uintptr_t, std::uint32_t) {}

}  // namespace olvex::tray
