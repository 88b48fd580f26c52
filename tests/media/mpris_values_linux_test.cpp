#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <limits>

#include "media/mpris_thumbnail_linux.hpp"
#include "media/mpris_values_linux.hpp"
#include "support/temp_folder.hpp"

namespace olvex::media::mpris {
namespace {

using testing_support::TempFolder;
using testing_support::write_file;

TEST(MprisValues, PlayerNamesLeaveOutPlayerctldAndForeignNames) {
    EXPECT_TRUE(is_player_bus_name("org.mpris.MediaPlayer2.mpv"));
    EXPECT_TRUE(is_player_bus_name("org.mpris.MediaPlayer2.vlc.instance7389"));
    EXPECT_FALSE(is_player_bus_name("org.mpris.MediaPlayer2.playerctld"));
    EXPECT_FALSE(is_player_bus_name("org.mpris.MediaPlayer2.playerctld.instance4"));
    EXPECT_FALSE(is_player_bus_name("org.mpris.MediaPlayer2."));
    EXPECT_FALSE(is_player_bus_name("org.mpris.MediaPlayer2"));
    EXPECT_FALSE(is_player_bus_name("org.freedesktop.DBus"));
}

TEST(MprisValues, ApplicationIdPrefersDesktopEntryThenTheNameWithoutInstance) {
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.vlc.instance7389", "vlc"), "vlc");
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.vlc.instance7389", ""), "vlc");
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.mpv", ""), "mpv");
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.firefox.instance_1_84", ""), "firefox");
    // Only a last part that starts with "instance" is an instance suffix.
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.io.github.Player", ""), "io.github.Player");
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.instance.tool", ""), "instance.tool");
    EXPECT_EQ(application_id("org.mpris.MediaPlayer2.instance7", ""), "instance7");
}

TEST(MprisValues, PlaybackStatusTextsMapToThePortsValues) {
    EXPECT_EQ(platform_status("Playing"), 4);
    EXPECT_EQ(platform_status("Paused"), 5);
    EXPECT_EQ(platform_status("Stopped"), 3);
    EXPECT_EQ(platform_status("playing"), 0);
    EXPECT_EQ(platform_status(""), 0);
}

TEST(MprisValues, ArtistsAreJoined) {
    EXPECT_EQ(joined_artists({}), "");
    EXPECT_EQ(joined_artists({"Artist A;Artist B"}), "Artist A;Artist B");
    EXPECT_EQ(joined_artists({"A", "B", "C"}), "A, B, C");
}

TEST(MprisValues, MicrosecondsAndTicksConvertBothWaysAndSaturate) {
    EXPECT_EQ(ticks_from_microseconds(29'827'568), 298'275'680);
    EXPECT_EQ(ticks_from_microseconds(std::numeric_limits<std::int64_t>::max()),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ticks_from_microseconds(std::numeric_limits<std::int64_t>::min()),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(microseconds_from_ticks(300'000'009), 30'000'000);
    EXPECT_EQ(microseconds_from_ticks(-1), -1);
    EXPECT_EQ(microseconds_from_ticks(std::numeric_limits<std::int64_t>::max()),
              std::numeric_limits<std::int64_t>::max() / 10);
}

TEST(MprisValues, OnlyLocalFileUrlsGiveAPathWithEscapesDecoded) {
    EXPECT_EQ(local_file_path("file:///home/a/My%20Music/cover%2Ejpg"), "/home/a/My Music/cover.jpg");
    EXPECT_EQ(local_file_path("file://localhost/tmp/c.png"), "/tmp/c.png");
    EXPECT_EQ(local_file_path("FILE:///tmp/c.png"), "/tmp/c.png");
    EXPECT_EQ(local_file_path("file:/tmp/c.png"), "/tmp/c.png");
    EXPECT_EQ(local_file_path("file:///tmp/%C3%A9t%C3%A9.png"), "/tmp/\xC3\xA9t\xC3\xA9.png");
    for (const char* refused : {"http://example.com/c.png", "https://i.scdn.co/image/ab67", "file://server/share/c.png",
                                "file://", "file:relative.png", "data:image/png;base64,iVBO", "/tmp/c.png",
                                "file:///tmp/a%2", "file:///tmp/a%zz.png", "file:///tmp/a%00.png",
                                "file:///tmp/c.png?size=2", "file:///tmp/c.png#x", ""}) {
        EXPECT_EQ(local_file_path(refused), std::nullopt) << refused;
    }
    using namespace std::string_view_literals;
    EXPECT_EQ(local_file_path("file:///tmp/a\0b.png"sv), std::nullopt);  // a raw NUL, too
}

std::optional<std::string> thumbnail_bytes(const std::filesystem::path& path) {
    auto stream = make_file_thumbnail(path)->open_read();
    if (!stream) return std::nullopt;
    const auto size = (*stream)->size();
    if (!size) return std::nullopt;
    auto bytes = (*stream)->read(static_cast<std::uint32_t>(*size));
    if (!bytes) return std::nullopt;
    return *bytes;
}

TEST(MprisThumbnail, ReadsARegularFileWholeAndNoMoreThanAsked) {
    TempFolder folder;
    const auto cover = folder.path() / "cover.png";
    write_file(cover, std::string("\x89PNG\r\n\x1a\n\0rest", 13));
    EXPECT_EQ(thumbnail_bytes(cover), std::string("\x89PNG\r\n\x1a\n\0rest", 13));

    auto stream = make_file_thumbnail(cover)->open_read();
    ASSERT_TRUE(stream);
    EXPECT_EQ((*stream)->read(4).value_or(""), "\x89PNG");
    EXPECT_EQ((*stream)->read(100).value_or("").size(), 13U);

    // Read in parts, up to the size the file had when opened.
    ASSERT_TRUE((*stream)->reads_in_parts());
    write_file(cover, std::string("\x89PNG\r\n\x1a\n\0rest and more", 22));
    std::array<std::uint8_t, 8> part{};
    EXPECT_EQ((*stream)->read_at(9, part).value_or(0), 4U);
    EXPECT_EQ(std::string(part.begin(), part.begin() + 4), "rest");
    EXPECT_EQ((*stream)->read_at(13, part).value_or(1), 0U);
}

TEST(MprisThumbnail, RefusesWhatIsNoSmallRegularFile) {
    TempFolder folder;
    EXPECT_FALSE(make_file_thumbnail(folder.path() / "missing.png")->open_read());
    EXPECT_FALSE(make_file_thumbnail(folder.path())->open_read());

    // Opening a FIFO for reading would wait for a writer without O_NONBLOCK.
    const auto fifo = folder.path() / "cover.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(make_file_thumbnail(fifo)->open_read());

    const auto huge = folder.path() / "huge.png";
    write_file(huge, "");
    std::filesystem::resize_file(huge, LARGEST_THUMBNAIL + 1);  // sparse: costs no disk
    const auto refused = make_file_thumbnail(huge)->open_read();
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("too large"), std::string::npos);

    std::filesystem::resize_file(huge, LARGEST_THUMBNAIL);
    EXPECT_TRUE(make_file_thumbnail(huge)->open_read());
}

}  // namespace
}  // namespace olvex::media::mpris
