#pragma once

// The test server's control: one text line in, one reply out (see
// media_server_control.hpp for the lines), and the TCP channel that carries
// such lines from a test in another process.

#include <cstdint>
#include <string>
#include <string_view>

namespace olvex::test_server {

// "ok[ <value>]" or "error <reason>".
std::string execute_control_line(std::string_view line);

// The server's live objects once its own threads have ended (they hold the
// operations they complete), waiting up to ten seconds for that.
std::int64_t settled_object_count();

// When OLVEX_TEST_MEDIA_CONTROL=host:port is set, connects there (once per
// process), serves control lines on a thread of its own, and waits until the
// test sends "start" or closes the channel. Without the variable, returns at
// once.
void open_control_channel();

}  // namespace olvex::test_server
