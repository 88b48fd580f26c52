#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "volume/audio_platform.hpp"

namespace olvex::volume {

// The application user model id and the executable's file name of a running
// process, each absent when it cannot be learnt (the process is gone, not ours
// to query, or has no package identity).
[[nodiscard]] ProcessIdentity identify_process(std::uint32_t process_id);

// Of a process opened with limited query rights: its application user model
// id and its package family, each absent for a process without package
// identity (and where the system has no such call).
[[nodiscard]] std::optional<std::string> package_app_id(HANDLE process);
[[nodiscard]] std::optional<std::string> package_family(HANDLE process);

}  // namespace olvex::volume
