#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "log/log.hpp"
#include "log/log_win.hpp"
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

// Installed under Program Files the executable's folder is closed; as root
// under Wine nothing is, so the check is answered here.
TEST(CrashLog, GoesToLocalAppDataWhenTheExecutablesFolderIsClosed) {
    testing_support::TempFolder local;
    wchar_t old_value[MAX_PATH];
    const DWORD old_length = GetEnvironmentVariableW(L"LOCALAPPDATA", old_value, MAX_PATH);
    SetEnvironmentVariableW(L"LOCALAPPDATA", local.path().c_str());
    const auto previous = replace_folder_write_check([](const std::filesystem::path&) { return false; });

    const auto expected = local.path() / "OLVEX-Audio-Control" / "crash.log";
    EXPECT_EQ(crash_log_path(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected.parent_path()));
    log_message("smtc: elsewhere");

    replace_folder_write_check(previous);
    SetEnvironmentVariableW(L"LOCALAPPDATA", old_length > 0 && old_length < MAX_PATH ? old_value : nullptr);
    const std::string text = testing_support::read_file(expected);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[\d{10}s\] smtc: elsewhere\n)"))) << text;
    EXPECT_FALSE(std::filesystem::exists(executable_folder() / "crash.log"));
}

}  // namespace
}  // namespace olvex
