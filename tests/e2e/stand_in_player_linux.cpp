// A media player for the end-to-end tests whose sound comes from a child
// process with an executable of its own, as a browser's does. It owns
// org.mpris.MediaPlayer2.StandIn with the desktop entry org.example.StandIn,
// says it plays one track, and runs its arguments as that child, which ends
// with it.
//
//     stand_in_player PROGRAM [ARGUMENT...]
//
// It can also play a hostile player, as any process of the user may:
//     STAND_IN_TITLE_BYTES=N   a title of N letters "x"
//     STAND_IN_ARTISTS=N       N artists, "Artist 0" to "Artist N-1"
//     STAND_IN_PAUSED=1        paused rather than playing
//     STAND_IN_SEEKS=R,S       after one second, R Seeked signals a second for
//                              S seconds, the position one millisecond further
//                              each time, and then "flood over" on its output
//     STAND_IN_TITLES=R,S      the same with R new titles a second, "Title 1"
//                              to "Title R*S"
//     STAND_IN_PAUSE=1         pauses after three seconds as a browser does:
//                              Rate, then Seeked, then PlaybackStatus signalled
//     STAND_IN_NAME=N          owns org.mpris.MediaPlayer2.N instead
//     STAND_IN_SILENT=1        owns its name and never answers anything

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace {

constexpr const char* ROOT = "org.mpris.MediaPlayer2";
constexpr const char* PLAYER = "org.mpris.MediaPlayer2.Player";

std::atomic<std::int64_t> position_us{0};
std::atomic<long> title_number{0};
std::atomic<bool> paused{false};

void start_child(char** argv) {
    const pid_t parent = ::getpid();
    if (::fork() != 0) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);  // the parent is gone already
    ::execv(argv[0], argv);
    ::_exit(127);
}

long setting(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atol(value) : 0;
}

std::map<std::string, sdbus::Variant> track() {
    std::map<std::string, sdbus::Variant> metadata{
        {"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/track/1"))},
        {"xesam:title", sdbus::Variant(std::string("Stand-in Song"))}};
    if (const long number = title_number; number > 0) {
        metadata["xesam:title"] = sdbus::Variant("Title " + std::to_string(number));
    }
    if (const long title_bytes = setting("STAND_IN_TITLE_BYTES"); title_bytes > 0) {
        metadata["xesam:title"] = sdbus::Variant(std::string(static_cast<std::size_t>(title_bytes), 'x'));
    }
    if (const long count = setting("STAND_IN_ARTISTS"); count > 0) {
        std::vector<std::string> artists;
        for (long i = 0; i < count; ++i) artists.push_back("Artist " + std::to_string(i));
        metadata["xesam:artist"] = sdbus::Variant(artists);
    }
    return metadata;
}

// Runs `change` `rate` times a second for the seconds STAND_IN_<flood> says,
// one second after the start.
template <typename Change>
void flood(const char* setting_name, Change&& change) {
    const char* value = std::getenv(setting_name);
    long rate = 0;
    long seconds = 0;
    if (!value || std::sscanf(value, "%ld,%ld", &rate, &seconds) != 2 || rate <= 0) return;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto start = std::chrono::steady_clock::now();
    for (long i = 1; i <= rate * seconds; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1'000'000 / rate));
        change(i);
    }
    std::puts("flood over");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: stand_in_player PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    paused = setting("STAND_IN_PAUSED") != 0;
    const char* name = std::getenv("STAND_IN_NAME");
    const std::string bus_name = std::string("org.mpris.MediaPlayer2.") + (name ? name : "StandIn");
    auto connection = sdbus::createSessionBusConnection();
    if (setting("STAND_IN_SILENT") != 0) {
        connection->requestName(bus_name);
        for (;;) ::pause();
    }
    auto object = sdbus::createObject(*connection, "/org/mpris/MediaPlayer2");
    object->registerProperty("Identity").onInterface(ROOT).withGetter([] { return std::string("Stand-in"); });
    object->registerProperty("DesktopEntry").onInterface(ROOT).withGetter([] {
        return std::string("org.example.StandIn");
    });
    object->registerProperty("PlaybackStatus").onInterface(PLAYER).withGetter([] {
        return std::string(paused ? "Paused" : "Playing");
    });
    object->registerProperty("Rate").onInterface(PLAYER).withGetter([] { return 1.0; });
    object->registerProperty("Metadata").onInterface(PLAYER).withGetter(track);
    object->registerProperty("Position").onInterface(PLAYER).withGetter([] { return std::int64_t{position_us}; });
    object->registerSignal("Seeked").onInterface(PLAYER).withParameters<std::int64_t>();
    object->finishRegistration();
    start_child(argv + 1);
    connection->requestName(bus_name);
    connection->enterEventLoopAsync();
    flood("STAND_IN_SEEKS", [&](long i) {
        position_us = i * 1000;
        object->emitSignal("Seeked").onInterface(PLAYER).withArguments(std::int64_t{position_us});
    });
    flood("STAND_IN_TITLES", [&](long i) {
        title_number = i;
        object->emitPropertiesChangedSignal(PLAYER, {"Metadata"});
    });
    if (setting("STAND_IN_PAUSE") != 0) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        paused = true;
        object->emitPropertiesChangedSignal(PLAYER, {"Rate"});
        object->emitSignal("Seeked").onInterface(PLAYER).withArguments(std::int64_t{position_us});
        object->emitPropertiesChangedSignal(PLAYER, {"PlaybackStatus"});
        std::puts("paused");
        std::fflush(stdout);
    }
    for (;;) ::pause();
}
