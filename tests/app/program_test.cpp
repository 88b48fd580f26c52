#include "app/program.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/outbound_pump.hpp"
#include "base/channel.hpp"
#include "log/log.hpp"

namespace olvex::app {
namespace {

TEST(ProgramDeathTest, AMediaPlatformThatCannotStartEndsStartUpWithStatusOne) {
    const auto log = crash_log_path();
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    ProgramPlatform unreachable;
    unreachable.start_media_platform = []() -> media::PlatformResult<std::shared_ptr<media::MediaManager>> {
        return make_error("Class not registered (0x80040154)");
    };
    EXPECT_EXIT(std::_Exit(run_program(unreachable)), testing::ExitedWithCode(1),
                "^Error: Class not registered \\(0x80040154\\)\n$");
    EXPECT_FALSE(std::filesystem::exists(log)) << "start-up errors are not logged";
}

TEST(OutboundPump, MessagesWithoutADeviceAreDroppedForGood) {
    device::DeviceLink link;
    EXPECT_FALSE(pump_message(protocol::Lock{true}, link));

    auto [writer, written] = channel<serial::Bytes>();
    link.connect(writer);
    EXPECT_FALSE(written.try_recv().has_value());
    EXPECT_TRUE(pump_message(protocol::Lock{false}, link));
    EXPECT_EQ(written.try_recv().value(), "{\"event\":\"lock\",\"locked\":false}\n");

    link.disconnect();
    EXPECT_FALSE(pump_message(protocol::Lock{true}, link));
    link.connect(writer);
    EXPECT_FALSE(written.try_recv().has_value());
}

// What waits for the writer is kept current: a newer message of a kind takes
// the place of the one waiting, the others keep their order, a line the
// device has is not sent again, and one the device asked for is.
TEST(OutboundPump, KeepsWhatWaitsCurrentAndSendsNothingTwiceUnlessAsked) {
    device::DeviceLink link;
    auto [writer, written] = channel<serial::Bytes>();
    link.connect(writer);
    const auto requests = std::make_shared<ResendRequests>();
    OutboundPump pump(requests);
    const protocol::NowPlaying first{protocol::PlaybackStatus::playing, "A", "B", "C", 1.0, 9.0};
    auto second = first;
    second.position_s = 2.0;
    const protocol::Volume volume{40.0, false};
    for (const protocol::HostMessage& message :
         {protocol::HostMessage(first), protocol::HostMessage(protocol::Lock{false}), protocol::HostMessage(second),
          protocol::HostMessage(volume), protocol::HostMessage(protocol::Lock{true})}) {
        EXPECT_TRUE(pump.pump(message, link));
    }
    for (const protocol::HostMessage& expected :
         {protocol::HostMessage(second), protocol::HostMessage(protocol::Lock{true}), protocol::HostMessage(volume)}) {
        EXPECT_EQ(written.try_recv().value(), protocol::encode_host_message(expected));
    }
    EXPECT_FALSE(written.try_recv().has_value());

    EXPECT_FALSE(pump.pump(second, link));
    EXPECT_FALSE(pump.pump(volume, link));
    requests->request(protocol::resync_what::NOW_PLAYING);
    EXPECT_TRUE(pump.pump(second, link));
    EXPECT_FALSE(pump.pump(volume, link));
    EXPECT_EQ(written.try_recv().value(), protocol::encode_host_message(second));
    EXPECT_FALSE(written.try_recv().has_value());
}

}  // namespace
}  // namespace olvex::app
