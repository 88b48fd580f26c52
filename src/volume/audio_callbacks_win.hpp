#pragma once

// The COM objects through which Core Audio calls this program, each handing
// what it hears to a sink of the audio seam, and the conversions between
// event contexts and GUIDs.
//
// Each object answers QueryInterface for IUnknown and its own interface only,
// counts its references atomically, and deletes itself at zero. An exception
// escaping a sink is recorded as a failure and never reaches Core Audio; the
// callback still returns S_OK.

#include <windows.h>
#include <audiopolicy.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <memory>

#include "base/com_ptr_win.hpp"
#include "volume/audio_platform.hpp"

namespace olvex::volume {

// The GUID's 16 bytes as they lie in memory, and back.
[[nodiscard]] EventContext event_context_from_guid(const GUID& guid);
[[nodiscard]] GUID guid_from_event_context(const EventContext& context);

// Device events: OnDefaultDeviceChanged goes to on_default_device_changed, the
// other four to on_device_event with their kind.
[[nodiscard]] ComPtr<IMMNotificationClient> make_endpoint_notification_client(
    std::shared_ptr<EndpointNotificationSink> sink);

// OnSessionCreated goes to on_session_created.
[[nodiscard]] ComPtr<IAudioSessionNotification> make_session_creation_notification(
    std::shared_ptr<SessionCreationSink> sink);

// Volume, state and disconnection of one session; the display name, icon,
// channel volume and grouping callbacks are ignored.
[[nodiscard]] ComPtr<IAudioSessionEvents> make_session_events(std::shared_ptr<SessionEventSink> sink);

// Master volume changes; a notification without data is ignored.
[[nodiscard]] ComPtr<IAudioEndpointVolumeCallback> make_endpoint_volume_callback(
    std::shared_ptr<EndpointVolumeSink> sink);

}  // namespace olvex::volume
