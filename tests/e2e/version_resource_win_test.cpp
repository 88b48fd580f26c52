// The built program's version resource carries the project's version: the
// numbers Explorer's Details tab and the Apps list show.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace olvex {
namespace {

class VersionResource : public testing::Test {
protected:
    void SetUp() override {
        // Under Wine the build's Unix path lies on drive Z:.
        const std::filesystem::path program = std::filesystem::path(L"Z:") / OLVEX_PROGRAM;
        const DWORD size = GetFileVersionInfoSizeW(program.c_str(), nullptr);
        ASSERT_NE(size, 0U) << program << ": " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, block_.data()));
    }

    [[nodiscard]] std::wstring text(const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(block_.data(), key.c_str(), &value, &length) || length == 0) {
            return L"(missing)";
        }
        return static_cast<const wchar_t*>(value);
    }

    std::vector<char> block_;
};

TEST_F(VersionResource, NumbersAndTextsAreTheProjectVersion) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", &value, &length));
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    const auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
               "." + std::to_string(LOWORD(low));
    };
    const std::string four_parts = OLVEX_VERSION ".0";
    EXPECT_EQ(dotted(fixed.dwFileVersionMS, fixed.dwFileVersionLS), four_parts);
    EXPECT_EQ(dotted(fixed.dwProductVersionMS, fixed.dwProductVersionLS), four_parts);
    EXPECT_EQ(text(L"FileVersion"), L"" OLVEX_VERSION);
    EXPECT_EQ(text(L"ProductVersion"), L"" OLVEX_VERSION);
    EXPECT_EQ(text(L"ProductName"), L"OLVEX-Audio-Control");
}

} // namespace
} // namespace olvex
