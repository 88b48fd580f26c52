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

}  // namespace
}  // namespace olvex::app
