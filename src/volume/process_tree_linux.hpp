#pragma once

#include <cstdint>

namespace olvex::volume {

// Whether `process_id` is `ancestor` itself or one of its descendants, by the
// parent links in /proc. False for a process that is gone, and for one more
// than a few dozen generations below.
[[nodiscard]] bool is_process_within_tree(std::uint32_t process_id, std::uint32_t ancestor);

}  // namespace olvex::volume
