#pragma once

#include <windows.h>
#include <audiopolicy.h>

#include "base/com_ptr_win.hpp"
#include "volume/audio_platform.hpp"

namespace olvex::volume {

// One Core Audio session as the seam's AudioSession, for one thread at a
// time. Its ISimpleAudioVolume is asked for when the volume is first read or
// set; not being able to get it is an error of that call.
[[nodiscard]] AudioSessionPtr make_audio_session(ComPtr<IAudioSessionControl2> control);

}  // namespace olvex::volume
