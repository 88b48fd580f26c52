#include "volume/echo_filter.hpp"

#include <gtest/gtest.h>

namespace olvex::volume {
namespace {

using namespace std::chrono_literals;

constexpr EventContext OURS{{0xC0, 0x01}};
constexpr EventContext LATER{{0xC0, 0x02}};
constexpr std::uint32_t STREAM = 7;
constexpr std::uint32_t OTHER_STREAM = 8;
constexpr StreamVolume HALF{32768, false};

class EchoFilterTest : public testing::Test {
protected:
    EchoFilter::Clock::time_point at(std::chrono::milliseconds offset) const { return start_ + offset; }

    EchoFilter filter_{1500ms, 8};
    EchoFilter::Clock::time_point start_ = EchoFilter::Clock::now();
};

TEST_F(EchoFilterTest, TheStateJustSetOnThatStreamIsOurEchoEveryTimeItIsSeen) {
    filter_.expect(STREAM, HALF, OURS, at(0ms));
    EXPECT_EQ(filter_.context_of(STREAM, HALF, at(10ms)), OURS);
    EXPECT_EQ(filter_.context_of(STREAM, HALF, at(20ms)), OURS) << "a change may be announced twice";
    EXPECT_EQ(filter_.context_of(STREAM, StreamVolume{32768 + 8, false}, at(30ms)), OURS) << "within the tolerance";
}

TEST_F(EchoFilterTest, AnythingElseIsSomeoneElsesChange) {
    filter_.expect(STREAM, HALF, OURS, at(0ms));
    EXPECT_FALSE(filter_.context_of(STREAM, StreamVolume{32768 + 9, false}, at(10ms))) << "another level";
    EXPECT_FALSE(filter_.context_of(STREAM, StreamVolume{32768, true}, at(10ms))) << "muted since";
    EXPECT_FALSE(filter_.context_of(OTHER_STREAM, HALF, at(10ms))) << "another stream";
    EXPECT_FALSE(filter_.context_of(STREAM, HALF, at(1501ms))) << "too late to be the echo";
}

TEST_F(EchoFilterTest, TheLatestChangeToAStreamIsTheOneExpected) {
    filter_.expect(STREAM, HALF, OURS, at(0ms));
    filter_.expect(STREAM, StreamVolume{32768, true}, LATER, at(1000ms));
    EXPECT_FALSE(filter_.context_of(STREAM, HALF, at(1100ms)));
    EXPECT_EQ(filter_.context_of(STREAM, StreamVolume{32768, true}, at(2400ms)), LATER)
        << "the window counts from the latest change";
}

TEST_F(EchoFilterTest, AForgottenStreamExpectsNothing) {
    filter_.expect(STREAM, HALF, OURS, at(0ms));
    filter_.expect(OTHER_STREAM, HALF, OURS, at(0ms));
    filter_.forget(STREAM);
    EXPECT_FALSE(filter_.context_of(STREAM, HALF, at(10ms)));
    EXPECT_EQ(filter_.context_of(OTHER_STREAM, HALF, at(10ms)), OURS);
}

}  // namespace
}  // namespace olvex::volume
