// Candidate order for the device search. The rules here are the same on every
// platform; only list_serial_ports comes from a backend.

#include "serial/port_list.hpp"

#include <algorithm>
#include <string_view>

#include "base/environment.hpp"
#include "base/text.hpp"
#include "base/unicode_space.hpp"

namespace olvex::serial {

// The marker is matched against the description lower-cased in full Unicode,
// but ASCII lower-casing finds exactly the same matches, so no case tables are
// needed. Full lower-casing maps A..Z as ASCII lower-casing does and leaves the
// other ASCII characters alone; of all non-ASCII characters, only two lower-case
// to text that holds ASCII: U+0130 (I with dot above) becomes "i" followed by
// U+0307, and U+212A (Kelvin sign) becomes "k". The marker has no "k", and its
// every "i" is followed by an ASCII letter, never by U+0307; so neither can take
// part in a match, and every match is made of characters that were ASCII to
// begin with. (Simple lower-casing would map U+0130 to a bare "i" and differ.)
// Bytes of non-ASCII characters are 0x80 or above and never match the marker.
bool has_device_marker(const PortRecord& port) {
    return ascii_to_lower(port.description).find(DEVICE_PORT_MARKER) != std::string::npos;
}

namespace {

// The override names the one port to try, listed or not: a port missing from
// the list may still open.
std::vector<PortRecord> named_port(const std::vector<PortRecord>& ports, std::string_view wanted) {
    const auto found =
        std::ranges::find_if(ports, [&](const PortRecord& port) { return ascii_iequals(port.name, wanted); });
    if (found != ports.end()) return {*found};
    return {PortRecord{std::string(wanted), ""}};
}

// Unmarked ports stay in the list, only later: a device whose description the
// system does not report is still found.
std::vector<PortRecord> marked_first(const std::vector<PortRecord>& ports) {
    std::vector<PortRecord> ordered = ports;
    std::ranges::stable_partition(ordered, has_device_marker);
    return ordered;
}

}  // namespace

std::vector<PortRecord> select_port_candidates(const std::vector<PortRecord>& ports,
                                               const std::optional<std::string>& port_override) {
    if (port_override) return named_port(ports, trim_unicode_whitespace(*port_override));
    return marked_first(ports);
}

std::optional<std::string> port_override() { return environment_variable(PORT_OVERRIDE_VARIABLE); }

std::vector<PortRecord> select_port_candidates(const std::vector<PortRecord>& ports) {
    return select_port_candidates(ports, port_override());
}

}  // namespace olvex::serial
