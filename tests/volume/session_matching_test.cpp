#include "volume/session_matching.hpp"

#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_audio.hpp"

namespace olvex::volume {
namespace {

using testing_support::FakeAudio;
using testing_support::FakeAudioSessionData;

std::shared_ptr<FakeAudio> audio_with_processes() {
    auto audio = std::make_shared<FakeAudio>();
    audio->add_device("speakers");
    audio->add_process(10, {std::nullopt, "Spotify.exe"});
    audio->add_process(11, {"SpotifyAB.SpotifyMusic_zpdnekdrzrea0!Spotify", "Spotify.exe"});
    audio->add_process(12, {"Ärger.App", std::nullopt});
    audio->add_process(13, {std::nullopt, "ÄRGER.exe"});
    return audio;
}

// Whether a session of `data`, alone on its device, matches `app_id`.
bool matches(FakeAudioSessionData data, std::string_view app_id) {
    auto audio = audio_with_processes();
    audio->add_session("speakers", std::move(data));
    auto system = audio->backend()->open_audio_system().value();
    auto device = std::move(system->active_render_devices().value().front());
    auto sessions = device->session_manager().value()->sessions().value();
    return session_matches_app(*sessions.front(), *system, {.id = std::string(app_id)});
}

FakeAudioSessionData of_process(std::uint32_t pid) { return FakeAudioSessionData::of_process(pid); }

TEST(SessionMatching, ProcessIdentityMatchesIgnoringAsciiCaseOnly) {
    EXPECT_TRUE(matches(of_process(10), "spotify.EXE"));
    EXPECT_TRUE(matches(of_process(11), "spotifyab.spotifymusic_zpdnekdrzrea0!spotify"));
    EXPECT_TRUE(matches(of_process(11), "Spotify.exe"));  // the user model id differs: the file name decides
    EXPECT_TRUE(matches(of_process(10), "Spotify"));  // as Chrome reports itself for chrome.exe
    EXPECT_FALSE(matches(of_process(10), "Spot"));
    EXPECT_TRUE(matches(of_process(12), "Ärger.app"));
    EXPECT_FALSE(matches(of_process(12), "ärger.app"));  // Ä and ä differ beyond ASCII
    EXPECT_FALSE(matches(of_process(13), "ärger.exe"));
}

TEST(SessionMatching, UnidentifiedProcessesMatchByIdentifierOnlyForIdsOfEightBytesOrMore) {
    const std::string path = "|\\Device\\HarddiskVolume3\\Program Files\\Foobar2000\\foobar2000.exe%b{0}";
    const auto unknown_process = of_process(99).with_identifier(path);
    EXPECT_TRUE(matches(unknown_process, "FOOBAR2000"));
    EXPECT_FALSE(matches(unknown_process, "foobar2"));  // 7 bytes
    EXPECT_FALSE(matches(unknown_process, "Device"));
    EXPECT_TRUE(matches(FakeAudioSessionData::unidentified().with_instance_identifier("x|ÄRGERLICH.exe"), "ärgerlich"));  // no process id at all
    EXPECT_FALSE(matches(FakeAudioSessionData::unidentified().with_identifier("|\\Apps\\MyPlayer.exe"), "player"));
    // A process known only by its user model id is judged by that alone.
    EXPECT_FALSE(matches(of_process(12).with_identifier("{Ärger.App.Extra}"), "Ärger.App.Extra"));
}

TEST(SessionMatching, FindsSessionsOnEveryActiveDeviceButNeverSystemSoundsOrExpired) {
    auto audio = audio_with_processes();
    audio->add_device("headphones");
    audio->add_device("hdmi");
    audio->set_device_active("hdmi", false);
    audio->add_session("speakers", of_process(10));
    audio->add_session("speakers", of_process(10).as_system_sounds());
    audio->add_session("speakers", of_process(10).in_state(AudioSessionState::expired));
    audio->add_session("headphones", of_process(10).in_state(AudioSessionState::inactive));
    audio->add_session("hdmi", of_process(10));
    audio->add_session("headphones", of_process(11));
    auto system = audio->backend()->open_audio_system().value();
    const auto found = find_app_sessions(*system, {.id = "spotify.exe"});
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->size(), 3u);  // speakers, then the inactive one and process 11 on headphones
    EXPECT_EQ(find_app_sessions(*system, {}).value().size(), 0u);

    audio->fail_listing(true);
    EXPECT_FALSE(find_app_sessions(*system, {.id = "spotify.exe"}).has_value());
}

// What a user whose knob does nothing can send: one line for each
// application, and one more when a session that changes the answer appears.
TEST(SessionMatching, TellsOnceWhatEachApplicationMatched) {
    auto audio = audio_with_processes();
    audio->add_session("speakers", of_process(10));
    auto system = audio->backend()->open_audio_system().value();
    AppSessionFinder finder(AppSessionFinder::Telling::logged);
    const auto told = [&](const MediaApplication& app) {
        testing::internal::CaptureStderr();
        const auto found = finder.everywhere(*system, app);
        EXPECT_TRUE(found.has_value());
        return testing::internal::GetCapturedStderr();
    };
    EXPECT_EQ(told({.id = "Spotify"}), "volume: \"Spotify\" matched by executable name: Spotify.exe (10)\n");
    EXPECT_EQ(told({.id = "Spotify"}), "");
    EXPECT_EQ(told({.id = "Deezer\nvolume: forged"}),
              "volume: no audio session matched \"Deezer?volume: forged\"; sessions: Spotify.exe (10)\n");

    audio->add_session("speakers", of_process(11));
    EXPECT_EQ(told({.id = "SpotifyAB.SpotifyMusic_zpdnekdrzrea0!Spotify"}),
              "volume: \"SpotifyAB.SpotifyMusic_zpdnekdrzrea0!Spotify\" matched by package: Spotify.exe (11)\n");
    audio->add_session("speakers", FakeAudioSessionData::unidentified());
    EXPECT_EQ(told({.id = "Spotify"}),
              "volume: \"Spotify\" matched by executable name: Spotify.exe (10), Spotify.exe (11)\n");
}

}  // namespace
}  // namespace olvex::volume
