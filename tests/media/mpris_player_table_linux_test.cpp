// The MPRIS manager's bookkeeping of players, driven the way the manager
// drives it from bus signals and discoveries, without a bus.

#include "media/mpris_player_table_linux.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace olvex::media::mpris {
namespace {

struct StandInSession {
    std::string name;
};

class PlayerTableTest : public testing::Test {
protected:
    // A player that appears on the bus under one name and says who it is.
    ChangedAnswers appear(const std::string& owner, std::uint32_t pid = 0, std::optional<bool> playing = false) {
        table_.add_name("org.mpris.MediaPlayer2." + owner, owner);
        return discover(owner, pid, playing);
    }

    ChangedAnswers discover(const std::string& owner, std::uint32_t pid, std::optional<bool> playing) {
        auto session = std::make_shared<StandInSession>(owner);
        return table_.complete_discovery(owner, pid, session, playing, *table_.status_stamp(owner));
    }

    std::string current() const {
        const auto session = table_.current_session();
        return session ? session->name : "";
    }

    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        for (const auto& session : table_.sessions()) names.push_back(session->name);
        return names;
    }

    PlayerTable<StandInSession> table_;
};

TEST_F(PlayerTableTest, CurrentPlayerIsTheOneThatMostRecentlyStartedPlaying) {
    const auto first = appear(":1.1");
    EXPECT_TRUE(first.sessions_changed);
    EXPECT_TRUE(first.current_changed);
    appear(":1.2");
    EXPECT_EQ(current(), ":1.1");  // stays while none plays

    EXPECT_TRUE(table_.note_activity(":1.2", true).changes.current_changed);
    EXPECT_EQ(current(), ":1.2");
    table_.note_activity(":1.1", true);
    EXPECT_EQ(current(), ":1.1");
    // Activity of the earlier player does not take over while both play.
    const auto seek = table_.note_activity(":1.2", std::nullopt);
    EXPECT_FALSE(seek.changes.current_changed);
    EXPECT_EQ(seek.session->name, ":1.2");
    table_.note_activity(":1.1", false);
    EXPECT_EQ(current(), ":1.2");
}

TEST_F(PlayerTableTest, PlayerIsNoSessionUntilItHasSaidWhoItIs) {
    EXPECT_TRUE(table_.add_name("org.mpris.MediaPlayer2.late", ":1.1"));
    EXPECT_FALSE(table_.add_name("org.mpris.MediaPlayer2.late.second", ":1.1"));
    // Its signal counts, though it has no session to raise events on yet.
    const auto early = table_.note_activity(":1.1", true);
    EXPECT_EQ(early.session, nullptr);
    EXPECT_FALSE(early.changes.sessions_changed);
    EXPECT_TRUE(listed().empty());
    EXPECT_EQ(table_.note_activity(":1.9", true).session, nullptr);  // a sender that is no player

    discover(":1.1", 0, std::nullopt);
    EXPECT_EQ(listed(), std::vector<std::string>{":1.1"});
    EXPECT_EQ(current(), ":1.1");
}

TEST_F(PlayerTableTest, TwoConnectionsOfOneProcessCountOnceAsTheFirst) {
    appear(":1.1", 42);
    EXPECT_FALSE(appear(":1.2", 42).sessions_changed);
    appear(":1.3", 0);
    appear(":1.4", 0);  // processes unknown: never taken for one another
    EXPECT_EQ(listed(), (std::vector<std::string>{":1.1", ":1.3", ":1.4"}));

    // The second connection takes over once the first is gone.
    table_.remove_name("org.mpris.MediaPlayer2.:1.1", ":1.1");
    EXPECT_EQ(listed(), (std::vector<std::string>{":1.2", ":1.3", ":1.4"}));
}

TEST_F(PlayerTableTest, StatusReadOlderThanASignalIsDropped) {
    appear(":1.2", 0, true);
    table_.add_name("org.mpris.MediaPlayer2.a", ":1.1");
    const auto discovery_stamp = *table_.status_stamp(":1.1");
    table_.note_activity(":1.1", false);  // signalled while it was being asked
    auto session = std::make_shared<StandInSession>(":1.1");
    table_.complete_discovery(":1.1", 0, session, true, discovery_stamp);
    EXPECT_EQ(current(), ":1.2");  // the signal's "paused" stands

    const auto refresh_stamp = *table_.status_stamp(":1.1");
    table_.note_activity(":1.1", false);
    EXPECT_FALSE(table_.apply_status_read(":1.1", true, refresh_stamp).current_changed);
    EXPECT_EQ(current(), ":1.2");
    // A read that no signal overtook counts.
    EXPECT_TRUE(table_.apply_status_read(":1.1", true, *table_.status_stamp(":1.1")).current_changed);
    EXPECT_EQ(current(), ":1.1");
}

TEST_F(PlayerTableTest, RemovedPlayerLeavesTheListWithItsLastName) {
    appear(":1.1");
    table_.add_name("org.mpris.MediaPlayer2.second", ":1.1");
    appear(":1.2");
    table_.note_activity(":1.1", true);

    const auto partly = table_.remove_name("org.mpris.MediaPlayer2.second", ":1.1");
    EXPECT_EQ(partly.gone, nullptr);
    EXPECT_EQ(listed(), (std::vector<std::string>{":1.1", ":1.2"}));

    const auto removal = table_.remove_name("org.mpris.MediaPlayer2.:1.1", ":1.1");
    EXPECT_EQ(removal.gone->name, ":1.1");
    EXPECT_TRUE(removal.changes.sessions_changed);
    EXPECT_TRUE(removal.changes.current_changed);
    EXPECT_EQ(listed(), std::vector<std::string>{":1.2"});
    EXPECT_EQ(current(), ":1.2");
    EXPECT_EQ(table_.status_stamp(":1.1"), std::nullopt);

    // A discovery that finishes after its player left leaves the session to the caller.
    table_.add_name("org.mpris.MediaPlayer2.brief", ":1.3");
    const auto stamp = *table_.status_stamp(":1.3");
    table_.remove_name("org.mpris.MediaPlayer2.brief", ":1.3");
    auto late = std::make_shared<StandInSession>(":1.3");
    EXPECT_FALSE(table_.complete_discovery(":1.3", 0, late, true, stamp).sessions_changed);
    EXPECT_NE(late, nullptr);
    EXPECT_EQ(listed(), std::vector<std::string>{":1.2"});

    EXPECT_EQ(table_.forget_all().size(), 1U);
    EXPECT_TRUE(listed().empty());
    EXPECT_EQ(current(), "");
}

}  // namespace
}  // namespace olvex::media::mpris
