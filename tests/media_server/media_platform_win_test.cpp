// The Windows media platform backend against the test media server, through
// the port alone. The server completes asynchronous operations either on a
// thread of its own or before handing them out; every case runs both ways.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/duration.hpp"
#include "media/commands.hpp"
#include "media/media_platform.hpp"
#include "media/watcher.hpp"
#include "support/media_recorder.hpp"
#include "winrt_server/media_server_control.hpp"

namespace olvex::media {
namespace {

using testing_support::MediaRecorder;
using testing_support::MediaServerControl;
using testing_support::ServerManagerEvent;
using testing_support::ServerSessionEvent;

constexpr std::int64_t TICKS_PER_SECOND = 10'000'000;
constexpr std::uint32_t E_UNEXPECTED_CODE = 0x8000FFFF;
constexpr std::uint32_t E_FAIL_CODE = 0x80004005;

// Bytes that differ from position to position, so a shifted or truncated read
// shows.
std::vector<unsigned char> pattern(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}

enum class Completion { on_server_thread, already_done };

// The server's object count once it equals `expected`, or the last one after
// a generous wait: a client thread may let go of an object a moment late.
std::int64_t settled_object_count(MediaServerControl& server, std::int64_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::int64_t count = server.live_objects();
    while (count != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        count = server.live_objects();
    }
    return count;
}

// With OLVEX_PRINT_SERVER_CALLS set, lists at the end which ABI methods of
// the server the backend called, and how often, and how many of the server's
// objects are still alive.
class CallReport : public testing::Environment {
public:
    void TearDown() override {
        if (std::getenv("OLVEX_PRINT_SERVER_CALLS") == nullptr) return;
        MediaServerControl server;
        for (const auto& entry : server.calls()) std::printf("server call %s\n", entry.c_str());
        std::printf("server objects alive %lld\n", static_cast<long long>(server.live_objects()));
    }
};
[[maybe_unused]] testing::Environment* const CALL_REPORT = testing::AddGlobalTestEnvironment(new CallReport);

class MediaPlatformWin : public testing::TestWithParam<Completion> {
protected:
    void SetUp() override {
        server_.reset();
        server_.set_synchronous(GetParam() == Completion::already_done);
    }
    void TearDown() override { EXPECT_EQ(server_.violations(), std::vector<std::string>{}); }

    std::shared_ptr<MediaManager> start() {
        auto manager = start_media_platform();
        if (!manager) ADD_FAILURE() << manager.error().message;
        return manager ? *manager : nullptr;
    }

    // A session named `app_id` that the platform names current.
    int add_current(const std::string& app_id) {
        const int id = server_.add_session(app_id);
        server_.set_current(id);
        return id;
    }

    SessionRef current(MediaManager& manager) {
        auto session = manager.get_current_session();
        if (!session) ADD_FAILURE() << session.error().message;
        return session ? *session : nullptr;
    }

    MediaServerControl server_;
};

INSTANTIATE_TEST_SUITE_P(BothCompletions, MediaPlatformWin,
                         testing::Values(Completion::on_server_thread, Completion::already_done));

TEST_P(MediaPlatformWin, ListsTheSessionsAndNamesTheCurrentOne) {
    server_.add_session("First.App");
    const int second = server_.add_session("Second.App");
    auto manager = start();
    ASSERT_TRUE(manager);

    auto none = manager->get_current_session();
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, nullptr);

    auto sessions = manager->get_sessions();
    ASSERT_TRUE(sessions);
    std::vector<std::string> ids;
    for (const auto& session : *sessions) ids.push_back(session->source_app_user_model_id().value_or("?"));
    EXPECT_EQ(ids, (std::vector<std::string>{"First.App", "Second.App"}));

    server_.set_current(second);
    auto session = current(*manager);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->source_app_user_model_id().value_or("?"), "Second.App");
}

TEST_P(MediaPlatformWin, ReadsTheTrackPlaybackAndTimeline) {
    const int id = add_current("Player.App");
    server_.set_properties(id, "Café – Ünïcode", "Band", "Album");
    server_.set_playback(id, testing_support::STATUS_PAUSED, "1.5");
    server_.set_timeline(id, 2 * TICKS_PER_SECOND, 240 * TICKS_PER_SECOND, 12 * TICKS_PER_SECOND,
                         133'000'000'000'000'000);
    auto manager = start();
    ASSERT_TRUE(manager);
    auto session = current(*manager);
    ASSERT_TRUE(session);

    auto properties = session->try_get_media_properties();
    ASSERT_TRUE(properties) << properties.error().message;
    EXPECT_EQ((*properties)->title().value_or("?"), "Café – Ünïcode");
    EXPECT_EQ((*properties)->artist().value_or("?"), "Band");
    EXPECT_EQ((*properties)->album_title().value_or("?"), "Album");

    auto playback = session->get_playback_info();
    ASSERT_TRUE(playback) << playback.error().message;
    EXPECT_EQ((*playback)->playback_status().value_or(-1), testing_support::STATUS_PAUSED);
    EXPECT_EQ((*playback)->playback_rate().value_or(std::nullopt), std::optional(1.5));

    auto timeline = session->get_timeline_properties();
    ASSERT_TRUE(timeline) << timeline.error().message;
    EXPECT_EQ((*timeline)->start_time().value_or(-1), 2 * TICKS_PER_SECOND);
    EXPECT_EQ((*timeline)->end_time().value_or(-1), 240 * TICKS_PER_SECOND);
    EXPECT_EQ((*timeline)->position().value_or(-1), 12 * TICKS_PER_SECOND);
    EXPECT_EQ((*timeline)->last_updated_time().value_or(-1), 133'000'000'000'000'000);

    // A player that publishes no rate.
    server_.set_playback(id, testing_support::STATUS_PLAYING, "none");
    auto without_rate = session->get_playback_info();
    ASSERT_TRUE(without_rate);
    EXPECT_EQ((*without_rate)->playback_status().value_or(-1), testing_support::STATUS_PLAYING);
    auto rate = (*without_rate)->playback_rate();
    ASSERT_TRUE(rate) << rate.error().message;
    EXPECT_EQ(*rate, std::nullopt);
}

TEST_P(MediaPlatformWin, CarriesOutTheCommandsWithTheirArguments) {
    add_current("Player.App");
    auto manager = start();
    ASSERT_TRUE(manager);
    auto session = current(*manager);
    ASSERT_TRUE(session);

    EXPECT_EQ(session->try_toggle_play_pause().value_or(false), true);
    EXPECT_EQ(session->try_skip_next().value_or(false), true);
    EXPECT_EQ(session->try_skip_previous().value_or(false), true);
    EXPECT_EQ(session->try_change_playback_position(-1).value_or(false), true);

    // The device's seek, through the watcher.
    auto watcher = start_watcher(manager);
    ASSERT_TRUE(watcher) << watcher.error().message;
    seek_to_seconds(*watcher, 12.5);

    EXPECT_EQ(server_.commands(),
              (std::vector<std::string>{"TryTogglePlayPauseAsync Player.App", "TrySkipNextAsync Player.App",
                                        "TrySkipPreviousAsync Player.App",
                                        "TryChangePlaybackPositionAsync Player.App -1",
                                        "TryChangePlaybackPositionAsync Player.App 125000000"}));
}

TEST_P(MediaPlatformWin, ServesThumbnailsOfEverySize) {
    const int id = add_current("Player.App");
    auto manager = start();
    ASSERT_TRUE(manager);
    auto session = current(*manager);
    ASSERT_TRUE(session);

    // Larger than any single read buffer the platform would use, and empty.
    for (const std::size_t size : {std::size_t{300'001}, std::size_t{1}, std::size_t{0}}) {
        const auto bytes = pattern(size);
        server_.set_thumbnail(id, bytes);
        auto properties = session->try_get_media_properties();
        ASSERT_TRUE(properties) << properties.error().message;
        auto reference = (*properties)->thumbnail();
        ASSERT_TRUE(reference) << reference.error().message;
        ASSERT_NE(*reference, nullptr);
        auto stream = (*reference)->open_read();
        ASSERT_TRUE(stream) << stream.error().message;
        EXPECT_EQ((*stream)->size().value_or(1234567), size);
        if (size == 0) continue;
        auto read = (*stream)->read(static_cast<std::uint32_t>(size));
        ASSERT_TRUE(read) << read.error().message;
        EXPECT_TRUE(*read == std::string(bytes.begin(), bytes.end())) << "read " << read->size() << " bytes";
    }

    server_.clear_thumbnail(id);
    auto properties = session->try_get_media_properties();
    ASSERT_TRUE(properties);
    auto none = (*properties)->thumbnail();
    ASSERT_TRUE(none) << none.error().message;
    EXPECT_EQ(*none, nullptr);
}

// The platform may load fewer bytes than asked, at the stream's end or at
// will; the backend hands on exactly the bytes loaded.
TEST_P(MediaPlatformWin, ReturnsOnlyTheBytesALoadDelivered) {
    const int id = add_current("Player.App");
    const auto bytes = pattern(5000);
    server_.set_thumbnail(id, bytes);
    auto manager = start();
    ASSERT_TRUE(manager);
    auto session = current(*manager);
    ASSERT_TRUE(session);
    const auto open_thumbnail = [&]() -> std::unique_ptr<ThumbnailStream> {
        auto properties = session->try_get_media_properties();
        if (!properties || !*properties) return nullptr;
        auto reference = (*properties)->thumbnail();
        if (!reference || !*reference) return nullptr;
        auto stream = (*reference)->open_read();
        return stream ? std::move(*stream) : nullptr;
    };

    auto past_the_end = open_thumbnail();
    ASSERT_TRUE(past_the_end);
    auto whole = past_the_end->read(static_cast<std::uint32_t>(bytes.size() + 7));
    ASSERT_TRUE(whole) << whole.error().message;
    EXPECT_TRUE(*whole == std::string(bytes.begin(), bytes.end())) << "read " << whole->size() << " bytes";

    server_.limit_loads(1000);
    auto partial = open_thumbnail();
    ASSERT_TRUE(partial);
    auto first_part = partial->read(static_cast<std::uint32_t>(bytes.size()));
    ASSERT_TRUE(first_part) << first_part.error().message;
    EXPECT_TRUE(*first_part == std::string(bytes.begin(), bytes.begin() + 1000))
        << "read " << first_part->size() << " bytes";
}

// Every object the server hands out is gone again once the backend's handles
// and the watcher are: sessions listed, a snapshot and its thumbnail read, a
// command carried out, events delivered.
TEST_P(MediaPlatformWin, ReleasesEveryServerObjectAfterAFullCycle) {
    {
        // The backend keeps its activation factories for good; these make sure
        // both exist before counting starts.
        const int id = add_current("Warm.App");
        server_.set_thumbnail(id, pattern(4));
        auto manager = start();
        ASSERT_TRUE(manager);
        auto session = current(*manager);
        ASSERT_TRUE(session);
        auto properties = session->try_get_media_properties();
        ASSERT_TRUE(properties && *properties);
        auto reference = (*properties)->thumbnail();
        ASSERT_TRUE(reference && *reference);
        auto stream = (*reference)->open_read();
        ASSERT_TRUE(stream && *stream);
        ASSERT_TRUE((*stream)->read(4));
        server_.remove_session(id);
    }
    const std::int64_t baseline = server_.live_objects();

    const int first = add_current("First.App");
    server_.set_properties(first, "One", "A", "X");
    server_.set_thumbnail(first, pattern(3000));
    server_.set_timeline(first, 0, 240 * TICKS_PER_SECOND, 12 * TICKS_PER_SECOND, 133'000'000'000'000'000);
    const int second = server_.add_session("Second.App");
    server_.set_properties(second, "Two", "B", "Y");
    {
        auto manager = start();
        ASSERT_TRUE(manager);
        auto sessions = manager->get_sessions();
        ASSERT_TRUE(sessions);
        EXPECT_EQ(sessions->size(), 2u);
        auto watcher = start_watcher(manager);
        ASSERT_TRUE(watcher) << watcher.error().message;
        MediaRecorder recorder;
        watcher->subscribe(recorder.subscriber());
        ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, "One"));

        auto session = watcher->current_session();
        ASSERT_TRUE(session);
        auto properties = session->try_get_media_properties();
        ASSERT_TRUE(properties && *properties);
        auto reference = (*properties)->thumbnail();
        ASSERT_TRUE(reference && *reference);
        auto stream = (*reference)->open_read();
        ASSERT_TRUE(stream && *stream);
        EXPECT_EQ((*stream)->read(3000).value_or("").size(), 3000u);
        auto timeline = session->get_timeline_properties();
        ASSERT_TRUE(timeline && *timeline);
        EXPECT_EQ((*timeline)->position().value_or(-1), 12 * TICKS_PER_SECOND);
        auto playback = session->get_playback_info();
        ASSERT_TRUE(playback && *playback);
        EXPECT_TRUE((*playback)->playback_rate());

        seek_to_seconds(*watcher, 1.0);
        EXPECT_EQ(session->try_toggle_play_pause().value_or(false), true);
        EXPECT_EQ(server_.commands().size(), 2u);

        server_.raise(first, ServerSessionEvent::playback_info);
        ASSERT_TRUE(recorder.wait_for(SessionChange::PlaybackInfoChanged, "One"));
        server_.set_current(second);
        server_.raise(ServerManagerEvent::current_session_changed);
        ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, "Two"));
    }
    EXPECT_EQ(server_.handler_count(ServerManagerEvent::sessions_changed), 0);
    EXPECT_EQ(server_.handler_count(ServerManagerEvent::current_session_changed), 0);

    // The sessions go too, so a reference to one that the backend kept shows.
    server_.remove_session(first);
    server_.remove_session(second);
    EXPECT_EQ(settled_object_count(server_, baseline), baseline);
}

TEST_P(MediaPlatformWin, DeliversEventsOnOtherThreadsUntilRemoved) {
    const int first = add_current("First.App");
    const int second = server_.add_session("Second.App");
    auto manager = start();
    ASSERT_TRUE(manager);

    std::atomic<int> sessions_changed{0};
    std::atomic<int> current_changed{0};
    std::atomic<bool> on_this_thread{false};
    const auto test_thread = std::this_thread::get_id();
    auto sessions_token = manager->add_event_handler(ManagerEvent::sessions_changed, [&] {
        ++sessions_changed;
        if (std::this_thread::get_id() == test_thread) on_this_thread = true;
    });
    auto current_token = manager->add_event_handler(ManagerEvent::current_session_changed, [&] { ++current_changed; });
    ASSERT_TRUE(sessions_token && current_token);

    server_.raise(ServerManagerEvent::sessions_changed);
    server_.raise(ServerManagerEvent::current_session_changed);
    server_.raise(ServerManagerEvent::current_session_changed);
    EXPECT_EQ(sessions_changed, 1);
    EXPECT_EQ(current_changed, 2);
    EXPECT_FALSE(on_this_thread);

    // Session events name the session that raised them.
    auto session = current(*manager);
    ASSERT_TRUE(session);
    std::mutex mutex;
    std::vector<std::string> seen;
    std::vector<EventToken> tokens;
    for (const auto event : {SessionEvent::media_properties_changed, SessionEvent::playback_info_changed,
                             SessionEvent::timeline_properties_changed}) {
        auto token = session->add_event_handler(event, [&, event](SessionRef sender) {
            const std::lock_guard lock(mutex);
            const std::string app = sender ? sender->source_app_user_model_id().value_or("?") : "<null>";
            seen.push_back(std::to_string(static_cast<int>(event)) + " " + app);
        });
        ASSERT_TRUE(token) << token.error().message;
        tokens.push_back(*token);
    }
    server_.raise(first, ServerSessionEvent::timeline_properties);
    server_.raise(first, ServerSessionEvent::media_properties);
    server_.raise(first, ServerSessionEvent::playback_info);
    server_.raise(second, ServerSessionEvent::media_properties);  // nobody listens there
    EXPECT_EQ(seen, (std::vector<std::string>{"2 First.App", "0 First.App", "1 First.App"}));

    // Removal by token ends delivery, and the platform holds no handler any more.
    ASSERT_TRUE(session->remove_event_handler(SessionEvent::media_properties_changed, tokens[0]));
    ASSERT_TRUE(session->remove_event_handler(SessionEvent::playback_info_changed, tokens[1]));
    ASSERT_TRUE(session->remove_event_handler(SessionEvent::timeline_properties_changed, tokens[2]));
    ASSERT_TRUE(manager->remove_event_handler(ManagerEvent::sessions_changed, *sessions_token));
    ASSERT_TRUE(manager->remove_event_handler(ManagerEvent::current_session_changed, *current_token));
    EXPECT_EQ(server_.handler_count(first, ServerSessionEvent::media_properties), 0);
    EXPECT_EQ(server_.handler_count(first, ServerSessionEvent::playback_info), 0);
    EXPECT_EQ(server_.handler_count(first, ServerSessionEvent::timeline_properties), 0);
    EXPECT_EQ(server_.handler_count(ServerManagerEvent::sessions_changed), 0);
    EXPECT_EQ(server_.handler_count(ServerManagerEvent::current_session_changed), 0);
    server_.raise(first, ServerSessionEvent::media_properties);
    server_.raise(ServerManagerEvent::sessions_changed);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(sessions_changed, 1);
}

TEST_P(MediaPlatformWin, DescribesPlatformFailuresWithTheirCode) {
    const int id = add_current("Player.App");
    server_.set_thumbnail(id, pattern(10));
    auto manager = start();
    ASSERT_TRUE(manager);
    auto session = current(*manager);
    ASSERT_TRUE(session);

    server_.fail_next("Session.GetPlaybackInfo", E_UNEXPECTED_CODE);
    auto playback = session->get_playback_info();
    ASSERT_FALSE(playback);
    EXPECT_TRUE(playback.error().message.ends_with("(0x8000FFFF)")) << playback.error().message;

    // An operation that starts but ends in error.
    server_.fail_next("Session.TryGetMediaPropertiesAsync", E_FAIL_CODE, "operation");
    auto properties = session->try_get_media_properties();
    ASSERT_FALSE(properties);
    EXPECT_TRUE(properties.error().message.ends_with("(0x80004005)")) << properties.error().message;

    server_.fail_next("Session.TrySkipNextAsync", E_UNEXPECTED_CODE, "operation");
    auto skipped = session->try_skip_next();
    ASSERT_FALSE(skipped);
    EXPECT_TRUE(skipped.error().message.ends_with("(0x8000FFFF)")) << skipped.error().message;

    server_.fail_next("DataReader.LoadAsync", E_FAIL_CODE);
    auto thumbnail = session->try_get_media_properties();
    ASSERT_TRUE(thumbnail);
    auto reference = (*thumbnail)->thumbnail();
    ASSERT_TRUE(reference && *reference);
    auto stream = (*reference)->open_read();
    ASSERT_TRUE(stream);
    auto read = (*stream)->read(10);
    ASSERT_FALSE(read);
    EXPECT_TRUE(read.error().message.ends_with("(0x80004005)")) << read.error().message;

    server_.fail_next("Manager.GetSessions", E_UNEXPECTED_CODE);
    auto sessions = manager->get_sessions();
    ASSERT_FALSE(sessions);
    EXPECT_TRUE(sessions.error().message.ends_with("(0x8000FFFF)")) << sessions.error().message;

    server_.fail_next("ManagerStatics.RequestAsync", E_UNEXPECTED_CODE, "operation");
    auto refused = start_media_platform();
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.ends_with("(0x8000FFFF)")) << refused.error().message;
}

// The watcher over the real backend: it follows the current session, moves
// its registrations along, and learns when the last session goes.
TEST_P(MediaPlatformWin, WatcherFollowsTheCurrentSession) {
    const int first = add_current("First.App");
    server_.set_properties(first, "One", "A", "X");
    const int second = server_.add_session("Second.App");
    server_.set_properties(second, "Two", "B", "Y");
    auto watcher = start_watcher();
    ASSERT_TRUE(watcher) << watcher.error().message;
    MediaRecorder recorder;
    watcher->subscribe(recorder.subscriber());
    ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, "One"));
    EXPECT_EQ(server_.handler_count(first, ServerSessionEvent::playback_info), 1);

    server_.raise(first, ServerSessionEvent::media_properties);
    const auto changed = recorder.wait_for(SessionChange::MediaPropertiesChanged, "One");
    ASSERT_TRUE(changed);
    EXPECT_NE(changed->thread, std::this_thread::get_id());

    server_.set_current(second);
    server_.raise(ServerManagerEvent::current_session_changed);
    ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, "Two"));
    EXPECT_EQ(server_.handler_count(first, ServerSessionEvent::media_properties), 0);
    EXPECT_EQ(server_.handler_count(second, ServerSessionEvent::timeline_properties), 1);

    // Locked, the watcher stays with its session.
    watcher->set_session_lock(true);
    server_.set_current(first);
    server_.raise(ServerManagerEvent::current_session_changed);
    server_.raise(second, ServerSessionEvent::playback_info);
    ASSERT_TRUE(recorder.wait_for(SessionChange::PlaybackInfoChanged, "Two"));
    EXPECT_EQ(watcher->current_session()->source_app_user_model_id().value_or("?"), "Second.App");
    watcher->set_session_lock(false);
    ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, "One"));

    server_.remove_session(first);
    server_.remove_session(second);
    server_.raise(ServerManagerEvent::sessions_changed);
    ASSERT_TRUE(recorder.wait_for(SessionChange::SessionAttached, "<none>"));
    EXPECT_EQ(watcher->current_session(), nullptr);
}

}  // namespace
}  // namespace olvex::media
