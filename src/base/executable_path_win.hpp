#pragma once

// Where this program's executable lies.

#include <string>

namespace olvex {

// The full path of the running executable; empty when the system cannot say.
[[nodiscard]] std::wstring executable_path();

}  // namespace olvex
