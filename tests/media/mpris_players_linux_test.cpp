// The MPRIS backend against real players (mpv with its MPRIS plugin) on a
// private session bus of the test's own.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "media/media_platform.hpp"
#include "media/snapshot.hpp"
#include "media/watcher.hpp"
#include "support/desktop_peers_linux.hpp"
#include "support/media_recorder.hpp"
#include "support/temp_folder.hpp"

namespace olvex::media {
namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::program_available;
using testing_support::SampleTrack;
using testing_support::ScopedEnvironment;
using testing_support::TempFolder;
using testing_support::wait_until;

constexpr TimeSpanTicks TICKS_PER_SECOND = 10'000'000;

// Counts a session's events, on whatever thread raises them.
struct EventCounts {
    std::atomic<int> media{0};
    std::atomic<int> playback{0};
    std::atomic<int> timeline{0};

    void follow(MediaSession& session) {
        ASSERT_TRUE(session.add_event_handler(SessionEvent::media_properties_changed, [this](SessionRef) { ++media; }));
        ASSERT_TRUE(session.add_event_handler(SessionEvent::playback_info_changed, [this](SessionRef) { ++playback; }));
        ASSERT_TRUE(
            session.add_event_handler(SessionEvent::timeline_properties_changed, [this](SessionRef) { ++timeline; }));
    }
};

std::optional<SessionSnapshot> snapshot_of(const SessionRef& session) {
    if (!session) return std::nullopt;
    auto snapshot = read_snapshot(*session);
    if (!snapshot) return std::nullopt;
    return *snapshot;
}

std::optional<std::int32_t> status_of(const SessionRef& session) {
    const auto snapshot = snapshot_of(session);
    return snapshot ? std::optional(snapshot->status) : std::nullopt;
}

std::string title_of(const SessionRef& session) {
    const auto snapshot = snapshot_of(session);
    return snapshot ? snapshot->title : "";
}

SessionRef current_of(MediaManager& manager) { return manager.get_current_session().value_or(nullptr); }

std::vector<SessionRef> sessions_of(MediaManager& manager) {
    return manager.get_sessions().value_or(std::vector<SessionRef>{});
}

SessionRef session_titled(MediaManager& manager, const std::string& title) {
    for (const auto& session : sessions_of(manager)) {
        if (title_of(session) == title) return session;
    }
    return nullptr;
}

double position_s(const SessionRef& session) {
    const auto snapshot = snapshot_of(session);
    return snapshot ? snapshot->position.as_seconds_f64() : -1.0;
}

std::string app_of(const SessionRef& session) {
    return session ? session->source_app_user_model_id().value_or("") : "";
}

// A manager handler that is taken back when the test's frame ends, however it
// ends: the handler refers to that frame.
class ManagerHandler {
public:
    ManagerHandler(MediaManager& manager, ManagerEvent event, ManagerEventHandler handler)
        : manager_(manager), event_(event), token_(manager.add_event_handler(event, std::move(handler))) {}
    ManagerHandler(const ManagerHandler&) = delete;
    ManagerHandler& operator=(const ManagerHandler&) = delete;
    ~ManagerHandler() {
        if (token_) (void)manager_.remove_event_handler(event_, *token_);
    }
    [[nodiscard]] bool added() const { return token_.has_value(); }

private:
    MediaManager& manager_;
    ManagerEvent event_;
    PlatformResult<EventToken> token_;
};

// An MPRIS player of the test's own (so it shares the test's process id)
// whose PlaybackStatus the test sets.
class ScriptedPlayer {
public:
    ScriptedPlayer(const std::string& name, std::string status)
        : connection_(sdbus::createSessionBusConnection()),
          object_(sdbus::createObject(*connection_, "/org/mpris/MediaPlayer2")),
          status_(std::move(status)) {
        object_->registerProperty("PlaybackStatus").onInterface(PLAYER).withGetter([this] {
            std::lock_guard lock(mutex_);
            return status_;
        });
        object_->finishRegistration();
        connection_->requestName(name);
        connection_->enterEventLoopAsync();
    }
    ScriptedPlayer(const ScriptedPlayer&) = delete;
    ScriptedPlayer& operator=(const ScriptedPlayer&) = delete;
    ~ScriptedPlayer() { connection_->leaveEventLoop(); }

    // Changes the status and announces that it changed, but not to what, as
    // PropertiesChanged allows.
    void change_status_quietly(std::string status) {
        {
            std::lock_guard lock(mutex_);
            status_ = std::move(status);
        }
        auto signal = object_->createSignal("org.freedesktop.DBus.Properties", "PropertiesChanged");
        signal << std::string(PLAYER) << std::map<std::string, sdbus::Variant>{}
               << std::vector<std::string>{"PlaybackStatus"};
        object_->emitSignal(signal);
    }

private:
    static constexpr const char* PLAYER = "org.mpris.MediaPlayer2.Player";

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    std::mutex mutex_;
    std::string status_;
};

class MprisPlayers : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempFolder;
        tracks_ = testing_support::make_sample_tracks(folder_->path());
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (!program_available("mpv") || !program_available("dbus-daemon")) GTEST_SKIP() << "needs mpv and dbus-daemon";
        ASSERT_GE(tracks_.size(), 2U) << "tools/make-sample-tracks.sh failed";
        ASSERT_TRUE(bus_.started());
        bus_address_.emplace("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    }

    static ChildProcess start_mpv(const std::vector<std::size_t>& tracks, std::vector<std::string> options = {}) {
        std::vector<std::string> argv{"mpv", "--no-terminal", "--no-video", "--ao=null", "--loop-playlist=inf"};
        argv.insert(argv.end(), options.begin(), options.end());
        for (const auto track : tracks) argv.push_back(tracks_.at(track).file.string());
        return ChildProcess(std::move(argv));
    }

    static std::shared_ptr<MediaManager> start_manager() {
        auto manager = start_media_platform();
        EXPECT_TRUE(manager) << manager.error().message;
        return manager ? *manager : nullptr;
    }

    static inline TempFolder* folder_ = nullptr;
    static inline std::vector<SampleTrack> tracks_;
    testing_support::PrivateSessionBus bus_;
    std::optional<ScopedEnvironment> bus_address_;
};

TEST(MprisStart, WithoutASessionBusTheWatcherCannotStart) {
    TempFolder folder;
    const ScopedEnvironment no_bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder.path() / "no-bus").string());
    const auto manager = start_media_platform();
    ASSERT_FALSE(manager);
    EXPECT_NE(manager.error().message.find("D-Bus session bus"), std::string::npos) << manager.error().message;
    const auto watcher = start_watcher();
    ASSERT_FALSE(watcher);
    EXPECT_EQ(watcher.error().message, manager.error().message);
}

TEST_F(MprisPlayers, ReadsTheTrackTimelineAndCoverOfAPlayingPlayer) {
    auto mpv = start_mpv({0});
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));

    const auto session = current_of(*manager);
    const auto snapshot = snapshot_of(session);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->source_app_id, "mpv");
    EXPECT_EQ(snapshot->artist, tracks_[0].artist);
    EXPECT_EQ(snapshot->album_title, tracks_[0].album);
    EXPECT_EQ(snapshot->status, PLATFORM_STATUS_PLAYING);
    EXPECT_EQ(snapshot->start_time, Duration{});
    EXPECT_NEAR(snapshot->end_time.as_seconds_f64(), 30.0, 0.5);
    EXPECT_GT(snapshot->position, Duration{});
    EXPECT_LT(snapshot->position, snapshot->end_time);

    auto properties = session->try_get_media_properties();
    ASSERT_TRUE(properties);
    auto thumbnail = (*properties)->thumbnail();
    ASSERT_TRUE(thumbnail && *thumbnail);
    auto stream = (**thumbnail).open_read();
    ASSERT_TRUE(stream);
    const std::string cover = testing_support::read_file(tracks_[0].file.parent_path() / "cover.png");
    EXPECT_EQ((*stream)->size().value_or(0), cover.size());
    EXPECT_EQ((*stream)->read(static_cast<std::uint32_t>(cover.size())).value_or(""), cover);
}

TEST_F(MprisPlayers, CommandsReachThePlayerAndItsEventsFollow) {
    EventCounts events;  // outlives the player, whose last signals may still come
    auto mpv = start_mpv({0});
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));
    const auto session = current_of(*manager);
    events.follow(*session);

    EXPECT_EQ(session->try_toggle_play_pause(), true);
    EXPECT_TRUE(wait_until([&] { return events.playback > 0; }));
    EXPECT_TRUE(wait_until([&] { return status_of(session) == PLATFORM_STATUS_PAUSED; }));

    EXPECT_EQ(session->try_change_playback_position(20 * TICKS_PER_SECOND), true);
    EXPECT_TRUE(wait_until([&] { return events.timeline > 0; }));
    EXPECT_NEAR(position_s(session), 20.0, 0.5);

    // Beyond the end MPRIS players ignore the request, so it is not accepted.
    EXPECT_EQ(session->try_change_playback_position(31 * TICKS_PER_SECOND), false);
    EXPECT_EQ(session->try_change_playback_position(-1), false);
}

TEST_F(MprisPlayers, SeekingAfterATrackChangeNamesTheNewTrack) {
    EventCounts events;
    auto mpv = start_mpv({0, 1}, {"--pause"});
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));
    const auto session = current_of(*manager);
    events.follow(*session);

    EXPECT_EQ(session->try_skip_next(), true);
    ASSERT_TRUE(wait_until([&] { return title_of(session) == tracks_[1].title; }));
    EXPECT_TRUE(wait_until([&] { return events.media > 0; }));
    // A track id remembered from the first track would be ignored by mpv.
    EXPECT_EQ(session->try_change_playback_position(10 * TICKS_PER_SECOND), true);
    EXPECT_TRUE(wait_until([&] { return std::abs(position_s(session) - 10.0) < 0.5; }));

    EXPECT_EQ(session->try_skip_previous(), true);
    EXPECT_TRUE(wait_until([&] { return title_of(session) == tracks_[0].title; }));
}

TEST_F(MprisPlayers, TwoPlayersKeepTheirSignalsApartAndTheLatestStartedIsCurrent) {
    std::atomic<int> current_changes{0};
    std::atomic<int> list_changes{0};
    EventCounts playing_events;
    EventCounts paused_events;
    auto first = start_mpv({0});
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    const ManagerHandler on_current(*manager, ManagerEvent::current_session_changed, [&] { ++current_changes; });
    const ManagerHandler on_list(*manager, ManagerEvent::sessions_changed, [&] { ++list_changes; });
    ASSERT_TRUE(on_current.added() && on_list.added());
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));
    const auto playing = current_of(*manager);

    auto second = start_mpv({1}, {"--pause"});
    ASSERT_TRUE(wait_until([&] { return session_titled(*manager, tracks_[1].title) != nullptr; }));
    EXPECT_TRUE(wait_until([&] { return list_changes > 0; }));
    const auto paused = session_titled(*manager, tracks_[1].title);
    EXPECT_EQ(current_of(*manager), playing) << "a paused newcomer does not take over";

    playing_events.follow(*playing);
    paused_events.follow(*paused);

    const int changes_before = current_changes;
    ASSERT_EQ(paused->try_toggle_play_pause(), true);
    EXPECT_TRUE(wait_until([&] { return current_of(*manager) == paused; }));
    EXPECT_TRUE(wait_until([&] { return current_changes > changes_before; }));
    EXPECT_TRUE(wait_until([&] { return paused_events.playback > 0; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(playing_events.playback, 0) << "the other player's signal reached this session";

    ASSERT_EQ(paused->try_toggle_play_pause(), true);
    EXPECT_TRUE(wait_until([&] { return current_of(*manager) == playing; })) << "the one still playing takes over";

    ASSERT_EQ(playing->try_toggle_play_pause(), true);
    EXPECT_TRUE(wait_until([&] { return status_of(playing) == PLATFORM_STATUS_PAUSED; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(current_of(*manager), playing) << "with nothing playing the current player stays";

    first.stop();
    EXPECT_TRUE(wait_until([&] { return current_of(*manager) == paused; }));
    EXPECT_TRUE(wait_until([&] { return sessions_of(*manager).size() == 1; }));
    second.stop();
    EXPECT_TRUE(wait_until([&] { return current_of(*manager) == nullptr && sessions_of(*manager).empty(); }));
}

TEST_F(MprisPlayers, TheWatcherFollowsTheCurrentPlayer) {
    auto first = start_mpv({0});
    {
        // The first attachment should already show the loaded track.
        const auto probe = start_manager();
        ASSERT_TRUE(probe);
        ASSERT_TRUE(wait_until([&] { return title_of(current_of(*probe)) == tracks_[0].title; }));
    }
    auto watcher = start_watcher();
    ASSERT_TRUE(watcher) << watcher.error().message;
    testing_support::MediaRecorder recorder;
    watcher->subscribe(recorder.subscriber());
    ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, tracks_[0].title));

    ASSERT_EQ(watcher->current_session()->try_toggle_play_pause(), true);
    const auto paused = recorder.wait_for(SessionChange::PlaybackInfoChanged, tracks_[0].title);
    ASSERT_TRUE(paused);
    EXPECT_EQ(paused->snapshot->status, PLATFORM_STATUS_PAUSED);

    // The newcomer may be attached before its track has loaded; its title
    // then follows as a media properties change.
    auto second = start_mpv({1});
    EXPECT_TRUE(wait_until([&] {
        const auto delivery = recorder.next(100ms);
        return delivery && delivery->title() == tracks_[1].title;
    }));
    EXPECT_EQ(title_of(watcher->current_session()), tracks_[1].title);
    second.stop();
    EXPECT_TRUE(recorder.wait_for(SessionChange::SessionAttached, tracks_[0].title));
}

TEST_F(MprisPlayers, LosingTheBusLeavesNoSessionsAndTheProcessRunning) {
    std::atomic<int> current_changes{0};
    auto mpv = start_mpv({0});
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    const ManagerHandler on_current(*manager, ManagerEvent::current_session_changed, [&] { ++current_changes; });
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));
    const int changes_before = current_changes;

    bus_.stop();
    EXPECT_TRUE(wait_until([&] { return current_of(*manager) == nullptr && sessions_of(*manager).empty(); }));
    EXPECT_TRUE(wait_until([&] { return current_changes > changes_before; }));
}

// A player is asked who it is off the bus thread: one that took its name but
// never answers must not hold up the others' signals and commands. (Asked on
// the bus thread, each question would stall everything for seconds.)
TEST_F(MprisPlayers, APlayerThatNeverAnswersHoldsUpNoOther) {
    EventCounts events;
    auto mpv = start_mpv({0});
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));
    const auto session = current_of(*manager);
    events.follow(*session);

    const auto silent = sdbus::createSessionBusConnection("org.mpris.MediaPlayer2.silent");  // no event loop
    std::this_thread::sleep_for(200ms);  // the manager has seen it appear
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(session->try_toggle_play_pause(), true);
    EXPECT_TRUE(wait_until([&] { return events.playback > 0; }, 3s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);

    // Once its questions have gone unanswered it is a session all the same.
    EXPECT_TRUE(wait_until([&] { return sessions_of(*manager).size() == 2; }));
}

TEST_F(MprisPlayers, AStatusChangeWithoutTheNewValueIsReadAgain) {
    auto mpv = start_mpv({0});
    ScriptedPlayer scripted("org.mpris.MediaPlayer2.scripted", "Paused");
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    ASSERT_TRUE(wait_until([&] { return sessions_of(*manager).size() == 2; }));
    ASSERT_TRUE(wait_until([&] { return title_of(current_of(*manager)) == tracks_[0].title; }));

    scripted.change_status_quietly("Playing");
    EXPECT_TRUE(wait_until([&] { return app_of(current_of(*manager)) == "scripted"; }))
        << "the player that started playing last is current";
}

// Names owned by this test process: every connection has the same process
// id, as two MPRIS front ends of one player would.
std::unique_ptr<sdbus::IConnection> own_name(const std::string& name) {
    auto connection = sdbus::createSessionBusConnection(name);
    connection->enterEventLoopAsync();  // so that calls to it fail at once instead of timing out
    return connection;
}

TEST_F(MprisPlayers, OneProcessCountsOnceAndPlayerctldNotAtAll) {
    auto front = own_name("org.mpris.MediaPlayer2.twice");
    auto forwarder = own_name("org.mpris.MediaPlayer2.playerctld");
    const auto manager = start_manager();
    ASSERT_TRUE(manager);
    ASSERT_EQ(sessions_of(*manager).size(), 1U);
    const auto first = sessions_of(*manager).front();
    EXPECT_EQ(first->source_app_user_model_id(), "twice");
    EXPECT_EQ(current_of(*manager), first);

    auto back = own_name("org.mpris.MediaPlayer2.twice.instance2");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sessions_of(*manager), std::vector<SessionRef>{first});

    front.reset();
    ASSERT_TRUE(wait_until([&] {
        const auto sessions = sessions_of(*manager);
        return sessions.size() == 1 && sessions.front() != first;
    }));
    EXPECT_EQ(current_of(*manager), sessions_of(*manager).front());
    EXPECT_EQ(current_of(*manager)->source_app_user_model_id(), "twice");
}

}  // namespace
}  // namespace olvex::media
