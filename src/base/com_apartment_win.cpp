#include "base/com_apartment_win.hpp"

#include <objbase.h>

namespace olvex {

HRESULT join_multithreaded_apartment() {
    // The cookie would let the process leave the apartment, which it never does.
    CO_MTA_USAGE_COOKIE cookie{};
    return CoIncrementMTAUsage(&cookie);
}

}  // namespace olvex
