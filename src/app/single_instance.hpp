#pragma once

namespace olvex::app {

// Claims, for the rest of the process, the place of the one copy of the
// program that runs in this user's session. False when another copy holds
// it; true when this process holds it, and also when the claim cannot be
// made at all (a copy that cannot tell should run rather than never start).
// Asked again, it gives the first answer.
[[nodiscard]] bool claim_single_instance();

// The platform's claim itself, made once by claim_single_instance.
[[nodiscard]] bool take_single_instance_claim();

}  // namespace olvex::app
