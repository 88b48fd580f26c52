#pragma once

#include <windows.h>

namespace olvex {

// Takes one use of the process's multithreaded apartment (CoIncrementMTAUsage):
// from then on every thread that has not chosen an apartment is in it, and a
// thread that has chosen one (the window thread) stays in its own. The use is
// never handed back: the process stays in the apartment for good, so nothing
// has to initialise or uninitialise COM on a thread it does not own. Returns
// CoIncrementMTAUsage's result.
[[nodiscard]] HRESULT join_multithreaded_apartment();

}  // namespace olvex
