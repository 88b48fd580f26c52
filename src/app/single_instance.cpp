#include "app/single_instance.hpp"

namespace olvex::app {

bool claim_single_instance() {
    static const bool claimed = take_single_instance_claim();
    return claimed;
}

}  // namespace olvex::app
