// A media player for the end-to-end tests whose sound comes from a child
// process with an executable of its own, as a browser's does. It owns
// org.mpris.MediaPlayer2.StandIn with the desktop entry org.example.StandIn,
// says it plays one track, and runs its arguments as that child, which ends
// with it.
//
//     stand_in_player PROGRAM [ARGUMENT...]

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

namespace {

constexpr const char* ROOT = "org.mpris.MediaPlayer2";
constexpr const char* PLAYER = "org.mpris.MediaPlayer2.Player";

void start_child(char** argv) {
    const pid_t parent = ::getpid();
    if (::fork() != 0) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);  // the parent is gone already
    ::execv(argv[0], argv);
    ::_exit(127);
}

std::map<std::string, sdbus::Variant> track() {
    return {{"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/track/1"))},
            {"xesam:title", sdbus::Variant(std::string("Stand-in Song"))}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: stand_in_player PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    auto connection = sdbus::createSessionBusConnection();
    auto object = sdbus::createObject(*connection, "/org/mpris/MediaPlayer2");
    object->registerProperty("Identity").onInterface(ROOT).withGetter([] { return std::string("Stand-in"); });
    object->registerProperty("DesktopEntry").onInterface(ROOT).withGetter([] {
        return std::string("org.example.StandIn");
    });
    object->registerProperty("PlaybackStatus").onInterface(PLAYER).withGetter([] { return std::string("Playing"); });
    object->registerProperty("Metadata").onInterface(PLAYER).withGetter(track);
    object->registerProperty("Position").onInterface(PLAYER).withGetter([] { return std::int64_t{0}; });
    object->finishRegistration();
    start_child(argv + 1);
    connection->requestName("org.mpris.MediaPlayer2.StandIn");
    connection->enterEventLoop();
}
