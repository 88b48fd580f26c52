#include "media/current_player.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace olvex::media {
namespace {

PlayerActivity playing(std::string key, std::uint64_t started, std::uint64_t active) {
    return PlayerActivity{std::move(key), true, started, active};
}

PlayerActivity idle(std::string key, std::uint64_t started, std::uint64_t active) {
    return PlayerActivity{std::move(key), false, started, active};
}

std::optional<std::string> choose(const std::vector<PlayerActivity>& players,
                                  std::optional<std::string> previous = std::nullopt) {
    return choose_current_player(players, previous);
}

TEST(CurrentPlayer, NoPlayersMeansNoCurrentPlayerEvenIfOneWasCurrent) {
    EXPECT_EQ(choose({}), std::nullopt);
    EXPECT_EQ(choose({}, "gone"), std::nullopt);
}

TEST(CurrentPlayer, ThePlayerThatMostRecentlyStartedPlayingWins) {
    // b started after a, however recently a was active and whoever was current.
    const std::vector players{playing("a", 3, 9), playing("b", 5, 6), idle("c", 8, 10)};
    EXPECT_EQ(choose(players), "b");
    EXPECT_EQ(choose(players, "a"), "b");
    EXPECT_EQ(choose(players, "c"), "b");
}

TEST(CurrentPlayer, APlayingPlayerTakesOverFromAPausedCurrentOne) {
    // b was current and paused later than a started; a still plays.
    EXPECT_EQ(choose({playing("a", 2, 2), idle("b", 4, 7)}, "b"), "a");
}

TEST(CurrentPlayer, WhileNothingPlaysTheCurrentPlayerStays) {
    const std::vector players{idle("a", 1, 2), idle("b", 5, 9)};
    EXPECT_EQ(choose(players, "a"), "a");
    EXPECT_EQ(choose(players, "b"), "b");
}

TEST(CurrentPlayer, WhenTheCurrentPlayerGoesTheMostRecentlyActiveOneFollows) {
    const std::vector players{idle("a", 0, 4), idle("b", 3, 3), idle("c", 0, 5)};
    EXPECT_EQ(choose(players, "gone"), "c");
    EXPECT_EQ(choose(players), "c");  // at start nothing was current yet
}

TEST(CurrentPlayer, TiesGoToThePlayerListedFirst) {
    EXPECT_EQ(choose({idle("a", 0, 3), idle("b", 0, 3)}), "a");
    EXPECT_EQ(choose({playing("a", 3, 3), playing("b", 3, 3)}), "a");
}

}  // namespace
}  // namespace olvex::media
