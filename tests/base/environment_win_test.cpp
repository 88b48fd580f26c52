#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/environment.hpp"
#include "serial/port_list.hpp"

namespace olvex {
namespace {

constexpr const wchar_t* TEST_VARIABLE = L"OLVEX_TEST_ENVIRONMENT_VALUE";

// Sets a variable for one test and removes it afterwards.
class ScopedVariable {
public:
    explicit ScopedVariable(std::wstring name) : name_(std::move(name)) {}
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() { unset(); }
    void set(const std::wstring& value) { ASSERT_TRUE(SetEnvironmentVariableW(name_.c_str(), value.c_str())); }
    void unset() { SetEnvironmentVariableW(name_.c_str(), nullptr); }

private:
    std::wstring name_;
};

TEST(EnvironmentVariable, ReadsTheCurrentValue) {
    ScopedVariable variable(TEST_VARIABLE);
    variable.set(L"COM7 \u00E4\u20AC\xD834\xDD1E");  // ä € 𝄞 (a surrogate pair)
    EXPECT_EQ(environment_variable("OLVEX_TEST_ENVIRONMENT_VALUE"), "COM7 \xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E");
    variable.set(L"");
    EXPECT_EQ(environment_variable("OLVEX_TEST_ENVIRONMENT_VALUE"), "");
    variable.unset();
    EXPECT_EQ(environment_variable("OLVEX_TEST_ENVIRONMENT_VALUE"), std::nullopt);
}

// Longer than the first buffer the value is read into.
TEST(EnvironmentVariable, ReadsALongValue) {
    ScopedVariable variable(TEST_VARIABLE);
    const std::wstring long_value(5000, L'x');
    variable.set(long_value);
    EXPECT_EQ(environment_variable("OLVEX_TEST_ENVIRONMENT_VALUE"), std::string(5000, 'x'));
}

TEST(EnvironmentVariable, ValueWithAnUnpairedSurrogateCountsAsUnset) {
    ScopedVariable variable(TEST_VARIABLE);
    const std::wstring lone_high(1, wchar_t(0xD834)), lone_low(1, wchar_t(0xDD1E));
    for (const std::wstring& bad : {L"COM" + lone_high, lone_high + L"COM", L"COM" + lone_low, lone_low + lone_high}) {
        variable.set(bad);
        EXPECT_EQ(environment_variable("OLVEX_TEST_ENVIRONMENT_VALUE"), std::nullopt);
    }
}

TEST(PortOverrideVariable, IsReadOnEveryCall) {
    ScopedVariable variable(L"OLVEX_AUDIO_PORT");
    const std::vector<serial::PortRecord> ports = {{"COM3", "CircuitPython CDC control"},
                                                   {"COM7", "CircuitPython CDC2 control"}};
    variable.unset();
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector{ports[1], ports[0]}));
    variable.set(L"\u3000com3 ");
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector{ports[0]}));
    variable.set(L"COM9");
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector<serial::PortRecord>{{"COM9", ""}}));
    variable.set(L"COM3" + std::wstring(1, wchar_t(0xDC00)));  // not valid: ignored as if unset
    EXPECT_EQ(serial::select_port_candidates(ports), (std::vector{ports[1], ports[0]}));
}

}  // namespace
}  // namespace olvex
