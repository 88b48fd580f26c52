#include "tray/tray.hpp"

#include <gtest/gtest.h>

#include <string>

namespace olvex::tray {
namespace {

TEST(TooltipFieldText, KeepsTheFirst127Units) {
    EXPECT_EQ(tooltip_field_text(std::string(200, 'x')), std::u16string(127, u'x'));
    EXPECT_EQ(tooltip_field_text(std::string(127, 'x')), std::u16string(127, u'x'));
    EXPECT_EQ(tooltip_field_text(""), u"");
    // Counted in UTF-16 units, not bytes: each "é" is two bytes but one unit.
    std::string accents;
    for (int i = 0; i < 130; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(tooltip_field_text(accents), std::u16string(127, u'\u00E9'));
}

TEST(TooltipFieldText, NeverEndsInHalfASurrogatePair) {
    // The emoji takes units 127 and 128; the cut falls between its halves.
    const std::string cut = std::string(126, 'a') + "\xF0\x9F\x8E\xB5" + "tail";
    EXPECT_EQ(tooltip_field_text(cut), std::u16string(126, u'a'));
    // One unit earlier the whole pair fits.
    const std::string fits = std::string(125, 'a') + "\xF0\x9F\x8E\xB5" + "tail";
    EXPECT_EQ(tooltip_field_text(fits), std::u16string(125, u'a') + u"\U0001F3B5");
}

TEST(TooltipFieldText, ReplacesInvalidUtf8) {
    EXPECT_EQ(tooltip_field_text("Song \xFF" "2"), u"Song \uFFFD2");
}

TEST(TrayHandle, StartsWithoutWindowOnTheNoDeviceIconAndNothingPlaying) {
    const TrayHandle handle;
    EXPECT_EQ(handle.window(), 0U);
    EXPECT_EQ(handle.icon(), ICON_NO_DEVICE);
    EXPECT_EQ(handle.tooltip(), "Nothing playing");
}

TEST(TrayHandle, StoresChangesMadeBeforeTheWindowExists) {
    TrayHandle handle;
    handle.set_icon(ICON_CONNECTED);
    handle.set_tooltip("Blue in Green");
    handle.set_tooltip("");
    EXPECT_EQ(handle.icon(), ICON_CONNECTED);
    EXPECT_EQ(handle.tooltip(), "");
    EXPECT_EQ(handle.window(), 0U);
}

// The only test that publishes: the slot is process-wide and set once.
TEST(PublishedTrayHandle, IsSetOnceAndReceivesTheSetters) {
    set_tray_icon(ICON_CONNECTED);  // nothing published yet: nothing happens
    set_tray_tooltip("lost");
    ASSERT_EQ(tray_handle(), nullptr);

    const auto first = std::make_shared<TrayHandle>();
    EXPECT_TRUE(publish_tray_handle(first));
    EXPECT_FALSE(publish_tray_handle(std::make_shared<TrayHandle>()));
    EXPECT_EQ(tray_handle(), first);

    set_tray_icon(ICON_CONNECTED);
    set_tray_tooltip("So What");
    EXPECT_EQ(first->icon(), ICON_CONNECTED);
    EXPECT_EQ(first->tooltip(), "So What");
}

TEST(MenuCommand, QuitEndsTheProcessWithStatusZero) {
    run_menu_command(7);  // not a command of the menu: nothing happens
    EXPECT_EXIT(run_menu_command(COMMAND_QUIT), testing::ExitedWithCode(0), "");
}

TEST(TrayIcons, AreTheNoDeviceAndConnectedIconsInThatOrder) {
    const auto icons = load_tray_icons();
    ASSERT_TRUE(icons.has_value()) << icons.error().message;
    ASSERT_EQ(icons->size(), 2U);
    EXPECT_EQ((*icons)[0].number, ICON_NO_DEVICE);
    EXPECT_EQ((*icons)[1].number, ICON_CONNECTED);
}

}  // namespace
}  // namespace olvex::tray
