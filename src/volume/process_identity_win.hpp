#pragma once

#include <cstdint>

#include "volume/audio_platform.hpp"

namespace olvex::volume {

// The application user model id and the executable's file name of a running
// process, each absent when it cannot be learnt (the process is gone, not ours
// to query, or has no package identity).
[[nodiscard]] ProcessIdentity identify_process(std::uint32_t process_id);

}  // namespace olvex::volume
