#include "base/duration.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace olvex {
namespace {

constexpr auto MAX_SECONDS = std::numeric_limits<std::uint64_t>::max();

TEST(Duration, ConstructorsNormaliseIntoSecondsAndNanoseconds) {
    EXPECT_EQ(Duration::from_millis(2500), (Duration{2, 500'000'000}));
    EXPECT_EQ(Duration::from_nanos(1'000'000'001), (Duration{1, 1}));
    EXPECT_LT((Duration{1, 999'999'999}), Duration::from_seconds(2));
}

TEST(Duration, AdditionCarriesNanosecondsAndReportsOverflow) {
    EXPECT_EQ(Duration::from_millis(700).checked_add(Duration::from_millis(800)), Duration::from_millis(1500));
    EXPECT_EQ((Duration{MAX_SECONDS, 0}).checked_add(Duration{0, 999'999'999}),
              (Duration{MAX_SECONDS, 999'999'999}));
    EXPECT_EQ((Duration{MAX_SECONDS, 500'000'000}).checked_add(Duration::from_millis(500)), std::nullopt);
    EXPECT_EQ((Duration{MAX_SECONDS, 0}).checked_add(Duration::from_seconds(1)), std::nullopt);
}

TEST(Duration, SubtractionBorrowsAndStopsAtZero) {
    EXPECT_EQ(Duration::from_millis(1200).saturating_sub(Duration::from_millis(300)), Duration::from_millis(900));
    EXPECT_EQ(Duration::from_seconds(1).saturating_sub(Duration::from_seconds(2)), Duration{});
}

TEST(Duration, HoldsMoreThanChronoNanosecondsAndSaturatesWhenConverted) {
    const Duration huge{MAX_SECONDS, 0};
    EXPECT_EQ(huge.to_chrono(), std::chrono::nanoseconds::max());
    EXPECT_EQ(Duration::from_millis(1500).to_chrono(), std::chrono::milliseconds(1500));
    EXPECT_DOUBLE_EQ(Duration::from_millis(1500).as_seconds_f64(), 1.5);
}

}  // namespace
}  // namespace olvex

namespace olvex {
namespace {

TEST(FormatDuration, UsesTheLargestUnitAndOnlyTheDigitsThatMatter) {
    EXPECT_EQ(format_duration(Duration::from_seconds(10)), "10s");
    EXPECT_EQ(format_duration(Duration::from_millis(1500)), "1.5s");
    EXPECT_EQ(format_duration(Duration{3, 1}), "3.000000001s");
    EXPECT_EQ(format_duration(Duration::from_millis(100)), "100ms");
    EXPECT_EQ(format_duration(Duration::from_nanos(1'250'000)), "1.25ms");
    EXPECT_EQ(format_duration(Duration::from_nanos(2'500)), "2.5\u00B5s");
    EXPECT_EQ(format_duration(Duration::from_nanos(7)), "7ns");
    EXPECT_EQ(format_duration(Duration{}), "0ns");
}

}  // namespace
}  // namespace olvex
