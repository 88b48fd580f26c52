#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/environment.hpp"
#include "serial/port_list.hpp"

namespace olvex {
namespace {

constexpr const char* TEST_VARIABLE = "OLVEX_TEST_ENVIRONMENT_VALUE";

// Sets a variable for one test and removes it afterwards.
class ScopedVariable {
public:
    explicit ScopedVariable(std::string_view name) : name_(name) {}
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() { unset(); }
    void set(const std::string& value) { ASSERT_EQ(::setenv(name_.c_str(), value.c_str(), 1), 0); }
    void unset() { ::unsetenv(name_.c_str()); }

private:
    std::string name_;
};

TEST(EnvironmentVariable, ReadsTheCurrentValue) {
    ScopedVariable variable(TEST_VARIABLE);
    variable.set("COM7 \xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E");  // ä € 𝄞
    EXPECT_EQ(environment_variable(TEST_VARIABLE), "COM7 \xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E");
    variable.set("");
    EXPECT_EQ(environment_variable(TEST_VARIABLE), "");
    variable.unset();
    EXPECT_EQ(environment_variable(TEST_VARIABLE), std::nullopt);
}

TEST(EnvironmentVariable, ValueThatIsNotUtf8CountsAsUnset) {
    ScopedVariable variable(TEST_VARIABLE);
    for (const char* bad : {"COM\xFF", "\xC3(", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "COM\xE2\x82"}) {
        variable.set(bad);
        EXPECT_EQ(environment_variable(TEST_VARIABLE), std::nullopt) << bad;
    }
    variable.set("\xEF\xBF\xBD");  // U+FFFD itself is valid
    EXPECT_EQ(environment_variable(TEST_VARIABLE), "\xEF\xBF\xBD");
}

TEST(PortOverrideVariable, IsReadOnEveryCall) {
    ScopedVariable variable(serial::PORT_OVERRIDE_VARIABLE);
    const std::vector<serial::PortRecord> ports = {{"/dev/ttyACM0", "CircuitPython CDC control"},
                                                   {"/dev/ttyACM1", "CircuitPython CDC2 control"}};
    variable.unset();
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector{ports[1], ports[0]}));
    variable.set(" /DEV/TTYACM0\n");
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector{ports[0]}));
    variable.set("/dev/ttyUSB9");
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector<serial::PortRecord>{{"/dev/ttyUSB9", ""}}));
    variable.set("/dev/ttyACM0\xFF");  // not valid: ignored as if unset
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector{ports[1], ports[0]}));
}

}  // namespace
}  // namespace olvex
