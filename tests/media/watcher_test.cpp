#include "media/watcher.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "fakes/fake_media_platform.hpp"
#include "support/media_recorder.hpp"

namespace olvex::media {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing_support::FakeMediaManager;
using testing_support::FakeMediaSession;
using testing_support::FakeTrack;
using testing_support::MediaRecorder;

std::shared_ptr<FakeMediaSession> session_titled(FakeMediaManager& manager, const std::string& name) {
    auto session = manager.make_session(name);
    FakeTrack track;
    track.title = name;
    session->set_track(track);
    return session;
}

class WatcherTest : public testing::Test {
protected:
    MediaWatcherHandle start() {
        auto watcher = start_watcher(manager_);
        EXPECT_TRUE(watcher.has_value());
        return std::move(watcher).value();
    }

    // Starts the watcher with `session` current and subscribes the recorder,
    // once its first delivery has shown the session.
    MediaWatcherHandle watch(const std::shared_ptr<FakeMediaSession>& session) {
        manager_->set_current(session);
        auto watcher = start();
        watcher.subscribe(recorder_.subscriber());
        EXPECT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, session->name()));
        return watcher;
    }

    // Lines of the call log about session registrations, without tokens.
    std::vector<std::string> registration_calls() const {
        std::vector<std::string> calls;
        for (const auto& line : manager_->log()->lines()) {
            if (line.find("_changed ") == std::string::npos) continue;
            if (line.find("sessions_changed") != std::string::npos) continue;
            if (line.find("current_session_changed") != std::string::npos) continue;
            calls.push_back(line.substr(0, line.rfind(' ')));
        }
        return calls;
    }

    std::shared_ptr<FakeMediaManager> manager_ = std::make_shared<FakeMediaManager>();
    MediaRecorder recorder_;
};

TEST_F(WatcherTest, NewSubscriberIsCalledAtOnceOnItsOwnThreadWithTheCurrentState) {
    const auto watcher = start();
    watcher.subscribe(recorder_.subscriber());
    auto first = recorder_.next();
    ASSERT_TRUE(first);
    // With no session the first call may be the subscriber's own or the
    // worker's; both say that nothing plays.
    EXPECT_EQ(first->change, SessionChange::SessionAttached);
    EXPECT_FALSE(first->snapshot);

    MediaRecorder second;
    manager_->set_current(session_titled(*manager_, "A"));
    watcher.subscribe(second.subscriber());  // the watcher has not moved yet: still nothing
    ASSERT_TRUE(second.next());

    manager_->raise(ManagerEvent::current_session_changed);
    // Once the worker has handed the notice to the first subscriber, its copy
    // of the list no longer changes: the third subscriber's only call is its own.
    ASSERT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "A"));
    MediaRecorder third;
    watcher.subscribe(third.subscriber());
    const auto call = third.next();
    ASSERT_TRUE(call);
    EXPECT_EQ(call->change, SessionChange::SessionAttached);
    EXPECT_EQ(call->title(), "A");
    EXPECT_EQ(call->thread, std::this_thread::get_id());
}

TEST_F(WatcherTest, MovingToANewSessionRemovesTheOldRegistrationsFirst) {
    auto a = session_titled(*manager_, "A");
    const auto watcher = watch(a);

    auto b = session_titled(*manager_, "B");
    manager_->set_current(b);
    manager_->raise(ManagerEvent::current_session_changed);
    ASSERT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "B"));

    EXPECT_THAT(registration_calls(),
                ElementsAre("add media_properties_changed A", "add playback_info_changed A",
                            "add timeline_properties_changed A", "remove media_properties_changed A",
                            "remove playback_info_changed A", "remove timeline_properties_changed A",
                            "add media_properties_changed B", "add playback_info_changed B",
                            "add timeline_properties_changed B"));
    EXPECT_EQ(a->handler_count(), 0);
    EXPECT_EQ(b->handler_count(), 3);
    EXPECT_EQ(watcher.current_session(), b);
}

TEST_F(WatcherTest, SessionEventsArriveFromPlatformThreadsWithAFreshSnapshot) {
    auto a = session_titled(*manager_, "A");
    const auto watcher = watch(a);

    FakeTrack next;
    next.title = "A2";
    a->set_track(next);
    a->raise(SessionEvent::media_properties_changed);
    const auto delivery = recorder_.wait_for(SessionChange::MediaPropertiesChanged, "A2");
    ASSERT_TRUE(delivery);
    EXPECT_NE(delivery->thread, std::this_thread::get_id());
    a->raise(SessionEvent::playback_info_changed);
    EXPECT_TRUE(recorder_.wait_for(SessionChange::PlaybackInfoChanged, "A2"));
    a->raise(SessionEvent::timeline_properties_changed);
    EXPECT_TRUE(recorder_.wait_for(SessionChange::TimelinePropertiesChanged, "A2"));
}

// A burst of changes is read once it has been taken, not once per change: a
// thousand timeline changes give a handful of readings, the last one current.
// The watcher gathers for 20 ms before it reads, so it can read at most once
// per 20 ms that the raising took (slow under Wine or load), plus a few.
TEST_F(WatcherTest, ABurstOfChangesIsReadOnceItHasBeenTaken) {
    auto a = session_titled(*manager_, "A");
    const auto watcher = watch(a);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) a->raise(SessionEvent::timeline_properties_changed);
    const auto raising = std::chrono::steady_clock::now() - started;
    FakeTrack last;
    last.title = "A2";
    a->set_track(last);
    a->raise(SessionEvent::timeline_properties_changed);

    int readings = 0;
    for (auto delivery = recorder_.next(); delivery; delivery = recorder_.next()) {
        ++readings;
        if (delivery->title() == "A2") break;
    }
    EXPECT_LT(readings, 100 + raising / std::chrono::milliseconds(20));
}

TEST_F(WatcherTest, AnEmptySessionListTellsSubscribersThatNothingPlays) {
    auto a = session_titled(*manager_, "A");
    manager_->set_sessions({a});
    const auto watcher = watch(a);

    // The platform still names the closed session current in this race; the
    // watcher asks anew and takes what it gets.
    manager_->set_current(nullptr);
    manager_->set_sessions({});
    manager_->raise(ManagerEvent::sessions_changed);
    EXPECT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "<none>"));
    EXPECT_EQ(watcher.current_session(), nullptr);
    EXPECT_EQ(a->handler_count(), 0);

    // A list that does not run empty leaves the session alone.
    manager_->set_current(a);
    manager_->set_sessions({a});
    manager_->raise(ManagerEvent::sessions_changed);
    EXPECT_EQ(watcher.current_session(), nullptr);
}

TEST_F(WatcherTest, TheLockHoldsTheSessionAndUnlockingMovesOnAtOnce) {
    auto a = session_titled(*manager_, "A");
    const auto watcher = watch(a);

    watcher.set_session_lock(true);
    EXPECT_TRUE(watcher.is_session_locked());
    auto b = session_titled(*manager_, "B");
    manager_->set_current(b);
    manager_->raise(ManagerEvent::current_session_changed);
    manager_->set_sessions({a});
    manager_->raise(ManagerEvent::sessions_changed);
    EXPECT_EQ(watcher.current_session(), a);
    EXPECT_EQ(b->handler_count(), 0);

    a->raise(SessionEvent::playback_info_changed);  // the kept session is still heard
    EXPECT_TRUE(recorder_.wait_for(SessionChange::PlaybackInfoChanged, "A"));

    watcher.set_session_lock(false);
    EXPECT_FALSE(watcher.is_session_locked());
    EXPECT_EQ(watcher.current_session(), b);
    EXPECT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "B"));

    watcher.set_session_lock(false);  // not locked: no second attach
    EXPECT_EQ(b->handler_count(), 3);
}

TEST_F(WatcherTest, TheLockIsLetGoWhenTheLockedSessionLeavesTheList) {
    auto a = session_titled(*manager_, "A");
    const auto watcher = watch(a);
    watcher.set_session_lock(true);
    auto b = session_titled(*manager_, "B");
    manager_->set_current(b);
    manager_->fail_get_sessions(true);  // a list that cannot be read says nothing
    manager_->raise(ManagerEvent::sessions_changed);
    EXPECT_TRUE(watcher.is_session_locked());

    manager_->fail_get_sessions(false);
    manager_->set_sessions({b});
    manager_->raise(ManagerEvent::sessions_changed);
    EXPECT_TRUE(recorder_.wait_for(SessionChange::LockReleased, "B"));
    EXPECT_FALSE(watcher.is_session_locked());
    EXPECT_EQ(watcher.current_session(), b);
    EXPECT_EQ(a->handler_count(), 0);
}

TEST_F(WatcherTest, LockingWithoutASessionLeavesTheLockClear) {
    const auto watcher = start();
    watcher.set_session_lock(true);
    EXPECT_FALSE(watcher.is_session_locked());
}

TEST_F(WatcherTest, AFailingSubscriberDoesNotStopTheOthers) {
    manager_->set_current(session_titled(*manager_, "A"));
    const auto watcher = start();
    testing::internal::CaptureStderr();
    watcher.subscribe([](std::optional<SessionSnapshot>, SessionChange) { throw std::runtime_error("broken"); });
    watcher.subscribe(recorder_.subscriber());
    manager_->raise(ManagerEvent::current_session_changed);
    ASSERT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "A"));
    // The worker delivers to the failing subscriber first, so once the
    // recorder has the notice the failure has been logged.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_THAT(logged, HasSubstr("smtc: subscriber panicked, event ignored\n"));
}

TEST_F(WatcherTest, WithoutSubscribersNoSnapshotIsRead) {
    auto a = session_titled(*manager_, "A");
    manager_->set_current(a);
    const auto watcher = start();
    a->raise(SessionEvent::media_properties_changed);
    a->raise(SessionEvent::playback_info_changed);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(a->property_requests(), 0);
}

TEST_F(WatcherTest, ASessionThatCannotBeReadIsDeliveredAsNothing) {
    auto a = session_titled(*manager_, "A");
    const auto watcher = watch(a);

    FakeTrack gone;
    gone.media_properties_fail = true;
    a->set_track(gone);
    testing::internal::CaptureStderr();
    a->raise(SessionEvent::media_properties_changed);
    const auto delivery = recorder_.wait_for(SessionChange::MediaPropertiesChanged, "<none>");
    const std::string logged = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(delivery);
    EXPECT_THAT(logged, HasSubstr("smtc: could not read session information: "));
}

TEST_F(WatcherTest, PlatformFailuresMeanNoSessionOrNoRegistration) {
    auto a = session_titled(*manager_, "A");
    a->fail_registration(SessionEvent::playback_info_changed);
    manager_->set_current(a);
    manager_->fail_registration(ManagerEvent::sessions_changed);
    const auto watcher = start();
    EXPECT_EQ(a->handler_count(), 2);
    EXPECT_EQ(manager_->handler_count(), 1);

    manager_->fail_get_current_session(true);
    manager_->raise(ManagerEvent::current_session_changed);
    EXPECT_EQ(watcher.current_session(), nullptr);
    EXPECT_EQ(a->handler_count(), 0);
}

TEST_F(WatcherTest, AThrowingRegistrationIsRolledBackAndTheSessionKept) {
    auto a = session_titled(*manager_, "A");
    a->throw_on_registration(SessionEvent::timeline_properties_changed);
    manager_->set_current(a);
    testing::internal::CaptureStderr();
    const auto watcher = start();
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_THAT(logged, HasSubstr("smtc: panicked while registering session change listeners, rolling back\n"));
    EXPECT_EQ(a->handler_count(), 0);
    EXPECT_EQ(watcher.current_session(), a);

    watcher.subscribe(recorder_.subscriber());
    EXPECT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "A"));
}

TEST_F(WatcherTest, ARemovalThatThrowsDoesNotStopTheMove) {
    auto a = session_titled(*manager_, "A");
    manager_->set_current(a);
    const auto watcher = start();
    watcher.subscribe(recorder_.subscriber());
    a->throw_on_removal();
    auto b = session_titled(*manager_, "B");
    manager_->set_current(b);
    manager_->raise(ManagerEvent::current_session_changed);
    EXPECT_EQ(watcher.current_session(), b);
    EXPECT_EQ(b->handler_count(), 3);
    EXPECT_TRUE(recorder_.wait_for(SessionChange::SessionAttached, "B"));
}

TEST_F(WatcherTest, StartFailsWhenTheSessionListCannotBeRead) {
    manager_->fail_get_sessions(true);
    const auto watcher = start_watcher(manager_);
    ASSERT_FALSE(watcher.has_value());
    EXPECT_THAT(watcher.error().message, HasSubstr("GetSessions failed"));
    EXPECT_EQ(manager_->handler_count(), 0);
}

TEST_F(WatcherTest, TheLastHandleRemovesTheManagerAndSessionRegistrations) {
    auto a = session_titled(*manager_, "A");
    manager_->set_current(a);
    {
        const auto watcher = start();
        const auto copy = watcher;
        EXPECT_EQ(manager_->handler_count(), 2);
        EXPECT_EQ(a->handler_count(), 3);
    }
    EXPECT_EQ(manager_->handler_count(), 0);
    EXPECT_EQ(a->handler_count(), 0);
    const auto lines = manager_->log()->lines();
    const auto removed = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("remove sessions_changed") || line.starts_with("remove current_session_changed");
    });
    EXPECT_EQ(removed, 2);
}

}  // namespace
}  // namespace olvex::media
