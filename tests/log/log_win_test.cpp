#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "log/log.hpp"
#include "support/temp_folder.hpp"

namespace olvex {
namespace {

std::filesystem::path executable_folder() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
}

TEST(CrashLogPath, LiesBesideTheExecutable) { EXPECT_EQ(crash_log_path(), executable_folder() / "crash.log"); }

TEST(CrashLog, IsCreatedBesideTheExecutableAndAppendedTo) {
    const auto file = executable_folder() / "crash.log";
    std::filesystem::remove(file);
    log_message("smtc: first");
    log_message("smtc: second");
    const std::string text = testing_support::read_file(file);
    std::filesystem::remove(file);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[\d{10}s\] smtc: first\n\[\d{10}s\] smtc: second\n)"))) << text;
}

}  // namespace
}  // namespace olvex
