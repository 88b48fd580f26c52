#pragma once

#include <string>

namespace olvex::protocol {

// Appends `value` to `out` in the number form the device reads:
// - the shortest decimal that reads back to the same double;
// - magnitudes from 1e-5 up to (not including) 1e16 in plain decimal, with
//   ".0" kept on integral values ("240.0", "0.00042", "0.0", "-0.0");
// - anything else with a lower-case exponent, no "+" and no leading zeros in
//   the exponent, and no ".0" on a one-digit mantissa ("1e16", "1.5e-7");
// - infinities and NaN as "0.0".
void format_json_number(double value, std::string& out);

}  // namespace olvex::protocol
