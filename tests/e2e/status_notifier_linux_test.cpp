// The program's notification-area icon with a real watcher: Debian's
// status-notifier-watcher keeps the list of items, and this test reads the
// item and clicks its menu as a panel would.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "e2e/device_peer_linux.hpp"

namespace olvex {
namespace {

using namespace std::chrono_literals;
using namespace testing_support;

const std::string ITEM_INTERFACE = "org.kde.StatusNotifierItem";
const std::string MENU_INTERFACE = "com.canonical.dbusmenu";

using Properties = std::map<std::string, sdbus::Variant>;
using Pixmap = sdbus::Struct<std::int32_t, std::int32_t, std::vector<std::uint8_t>>;
using ToolTip = sdbus::Struct<std::string, std::vector<Pixmap>, std::string, std::string>;
using Layout = sdbus::Struct<std::int32_t, Properties, std::vector<sdbus::Variant>>;

// What a panel sees of the item: the watcher's list, the item's properties
// and the NewIcon and NewToolTip signals.
class Panel {
public:
    explicit Panel(const std::string& bus_address)
        : connection_(sdbus::createSessionBusConnectionWithAddress(bus_address)) {
        connection_->addMatch(
            "type='signal',interface='org.kde.StatusNotifierItem'",
            [this](sdbus::Message& signal) {
                if (signal.getMemberName() == std::string("NewIcon")) ++new_icons_;
                if (signal.getMemberName() == std::string("NewToolTip")) ++new_tooltips_;
            },
            sdbus::floating_slot);
        connection_->enterEventLoopAsync();
    }
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;
    ~Panel() { connection_->leaveEventLoop(); }

    // The watcher's RegisteredStatusNotifierItems; empty without a watcher.
    std::vector<std::string> items() {
        try {
            auto watcher = sdbus::createProxy(*connection_, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher");
            return watcher->getProperty("RegisteredStatusNotifierItems")
                .onInterface("org.kde.StatusNotifierWatcher")
                .get<std::vector<std::string>>();
        } catch (const sdbus::Error&) {
            return {};
        }
    }

    Properties item_properties(const std::string& item) {
        Properties properties;
        sdbus::createProxy(*connection_, item, "/StatusNotifierItem")
            ->callMethod("GetAll")
            .onInterface("org.freedesktop.DBus.Properties")
            .withArguments(ITEM_INTERFACE)
            .storeResultsTo(properties);
        return properties;
    }

    // Clicks the entry of the item's menu labelled `label`; false if there is none.
    bool click(const std::string& item, const std::string& menu_path, const std::string& label) {
        auto menu = sdbus::createProxy(*connection_, item, menu_path);
        std::uint32_t revision = 0;
        Layout root;
        menu->callMethod("GetLayout")
            .onInterface(MENU_INTERFACE)
            .withArguments(std::int32_t{0}, std::int32_t{-1}, std::vector<std::string>{})
            .storeResultsTo(revision, root);
        for (const auto& child : root.get<2>()) {
            const auto entry = child.get<Layout>();
            const auto text = entry.get<1>().find("label");
            if (text == entry.get<1>().end() || text->second.get<std::string>() != label) continue;
            menu->callMethod("Event")
                .onInterface(MENU_INTERFACE)
                .withArguments(entry.get<0>(), std::string("clicked"), sdbus::Variant(std::int32_t{0}),
                               std::uint32_t{0});
            return true;
        }
        return false;
    }

    [[nodiscard]] int new_icons() const { return new_icons_; }
    [[nodiscard]] int new_tooltips() const { return new_tooltips_; }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::atomic<int> new_icons_{0};
    std::atomic<int> new_tooltips_{0};
};

// The sizes of the item's pixmaps, each checked to hold four bytes a pixel.
std::vector<int> pixmap_sizes(const Properties& item) {
    std::vector<int> sizes;
    for (const auto& pixmap : item.at("IconPixmap").get<std::vector<Pixmap>>()) {
        EXPECT_EQ(pixmap.get<0>(), pixmap.get<1>());
        EXPECT_EQ(pixmap.get<2>().size(), 4U * static_cast<std::size_t>(pixmap.get<0>() * pixmap.get<1>()));
        sizes.push_back(pixmap.get<0>());
    }
    return sizes;
}

// "red" or "green" for the colour of the most opaque pixel of the largest
// pixmap (read as alpha, red, green, blue), "?" if neither.
std::string icon_colour(const Properties& item) {
    const auto pixmaps = item.at("IconPixmap").get<std::vector<Pixmap>>();
    if (pixmaps.empty()) return "?";
    const auto& bytes = pixmaps.back().get<2>();
    std::size_t most = 0;
    for (std::size_t at = 0; at + 3 < bytes.size(); at += 4) {
        if (bytes[at] > bytes[most]) most = at;
    }
    if (bytes[most] != 255) return "?";
    const int red = bytes[most + 1];
    const int green = bytes[most + 2];
    const int blue = bytes[most + 3];
    if (red > 2 * green && red > 2 * blue) return "red";
    if (green > 2 * red && green > 2 * blue) return "green";
    return "?";
}

std::pair<std::string, std::string> tooltip(const Properties& item) {
    const auto value = item.at("ToolTip").get<ToolTip>();
    return {value.get<2>(), value.get<3>()};
}

TEST(StatusNotifier, TheIconComesWithTheWatcherFollowsDeviceAndTrackAndItsMenuQuits) {
    for (const char* program : {"dbus-daemon", "status-notifier-watcher", "mpv", "ffmpeg"}) {
        if (!program_available(program)) GTEST_SKIP() << program << " is not installed";
    }
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.started());
    TempFolder state;
    const auto tracks = make_sample_tracks(state.path());
    ASSERT_FALSE(tracks.empty());
    const std::vector<std::string> environment{"DBUS_SESSION_BUS_ADDRESS=" + bus.address(),
                                               "PULSE_SERVER=unix:" + (state.path() / "none").string()};
    PtyMaster device;
    DeviceLines lines(device);
    Program program(device.slave_path(), state, environment);
    ASSERT_TRUE(program.started());
    ASSERT_EQ(lines.next(), R"({"event":"hello"})");
    Panel panel(bus.address());

    // No watcher at start: the item comes as soon as one starts.
    const std::vector<std::string> watcher_command{"status-notifier-watcher"};
    std::optional<ChildProcess> watcher(std::in_place, watcher_command, environment);
    ASSERT_TRUE(wait_until([&] { return panel.items().size() == 1; }));
    const std::string item = panel.items().front();
    auto properties = panel.item_properties(item);
    EXPECT_EQ(properties.at("Category").get<std::string>(), "Hardware");
    EXPECT_EQ(properties.at("Id").get<std::string>(), "olvex-audio-control");
    EXPECT_EQ(properties.at("Title").get<std::string>(), "OLVEX-Audio-Control");
    EXPECT_EQ(properties.at("Status").get<std::string>(), "Active");
    EXPECT_EQ(properties.at("IconName").get<std::string>(), "olvex-audio-control-no-device");
    EXPECT_EQ(pixmap_sizes(properties), (std::vector<int>{16, 22, 24, 32, 48}));
    EXPECT_EQ(icon_colour(properties), "red");
    EXPECT_EQ(tooltip(properties), (std::pair<std::string, std::string>{"OLVEX-Audio-Control", "Nothing playing"}));

    device.send("{\"event\":\"hello_ack\"}\n");
    ASSERT_TRUE(wait_until([&] { return panel.new_icons() == 1; }));
    properties = panel.item_properties(item);
    EXPECT_EQ(properties.at("IconName").get<std::string>(), "olvex-audio-control-connected");
    EXPECT_EQ(icon_colour(properties), "green");

    ChildProcess player({"mpv", "--no-terminal", "--no-video", "--ao=null", "--loop-file=inf", tracks[0].file.string()},
                        environment);
    ASSERT_TRUE(wait_until([&] { return panel.new_tooltips() == 1; }));
    EXPECT_EQ(tooltip(panel.item_properties(item)).second, tracks[0].title);

    // A desktop shell that restarts brings a new watcher, which is told again.
    watcher.reset();
    ASSERT_TRUE(wait_until([&] { return panel.items().empty(); }));
    watcher.emplace(watcher_command, environment);
    ASSERT_TRUE(wait_until([&] { return panel.items() == std::vector{item}; }));

    ASSERT_TRUE(panel.click(item, properties.at("Menu").get<sdbus::ObjectPath>(), "Quit"));
    EXPECT_EQ(program.exit_status(5s), 0);
}

}  // namespace
}  // namespace olvex
