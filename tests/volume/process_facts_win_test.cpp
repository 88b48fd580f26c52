// The facts the volume side gathers about processes, checked against a child
// process and a window made here.

#include "volume/process_facts_win.hpp"

#include <windows.h>
#include <shobjidl.h>
#include <propkey.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/com_apartment_win.hpp"
#include "base/com_ptr_win.hpp"
#include "base/text.hpp"
#include "volume/app_processes.hpp"

namespace olvex::volume {
namespace {

const ProcessFacts* find(const std::vector<ProcessFacts>& facts, DWORD id) {
    const auto found = std::ranges::find(facts, static_cast<std::uint32_t>(id), &ProcessFacts::id);
    return found == facts.end() ? nullptr : &*found;
}

// A second copy of this program, held suspended: a process started here.
class Child {
public:
    Child() {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(path) + L"\" --gtest_list_tests";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        started_ = CreateProcessW(path, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                                  &startup, &info_) != 0;
    }
    ~Child() {
        if (!started_) return;
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, 5000);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    [[nodiscard]] bool started() const { return started_; }
    [[nodiscard]] DWORD id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

TEST(ProcessFactsWin, NameTheParentOfAChildAndWhichWasCreatedFirst) {
    ASSERT_TRUE(SUCCEEDED(join_multithreaded_apartment()));
    Child child;
    ASSERT_TRUE(child.started());
    const std::vector<std::uint32_t> playing{child.id()};
    const auto facts = ProcessFactGatherer().gather("NoSuch.Player", playing);
    const ProcessFacts* self = find(facts, GetCurrentProcessId());
    const ProcessFacts* started = find(facts, child.id());
    ASSERT_TRUE(self && started);
    EXPECT_EQ(self->executable, "volume_test.exe");
    EXPECT_EQ(started->executable, "volume_test.exe");
    EXPECT_EQ(started->parent, GetCurrentProcessId());
    EXPECT_GT(self->started, 0u);
    EXPECT_LE(self->started, started->started);
    EXPECT_EQ(self->package_family, std::nullopt) << "a test program has no package identity";
    EXPECT_TRUE(self->window_app_ids.empty());
    EXPECT_EQ(self->shell_app_id, std::nullopt);
}

// A window that carries an application id, as a browser's windows do.
TEST(ProcessFactsWin, NameTheApplicationIdOnAWindowAndTheProcessesBelowIt) {
    ASSERT_TRUE(SUCCEEDED(join_multithreaded_apartment()));
    const HWND window = CreateWindowExW(0, L"STATIC", L"player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ComPtr<IPropertyStore> store;
    const HRESULT opened = SHGetPropertyStoreForWindow(window, IID_IPropertyStore, store.put_void());
    if (FAILED(opened)) {
        DestroyWindow(window);
        GTEST_SKIP() << "SHGetPropertyStoreForWindow fails here: 0x" << std::hex
                     << static_cast<unsigned long>(opened);
    }
    wchar_t app_id[] = L"Olvex.Test.Player";
    PROPVARIANT id;
    PropVariantInit(&id);
    id.vt = VT_LPWSTR;
    id.pwszVal = app_id;  // the store keeps a copy
    ASSERT_EQ(store->SetValue(PKEY_AppUserModel_ID, id), S_OK);
    ComPtr<IPropertyStore> again;
    ASSERT_EQ(SHGetPropertyStoreForWindow(window, IID_IPropertyStore, again.put_void()), S_OK);
    PROPVARIANT kept;
    PropVariantInit(&kept);
    const bool keeps = SUCCEEDED(again->GetValue(PKEY_AppUserModel_ID, &kept)) && kept.vt == VT_LPWSTR;
    PropVariantClear(&kept);
    if (!keeps) {
        DestroyWindow(window);
        GTEST_SKIP() << "a value set in the window's property store is not kept here (Wine 8 does not keep it)";
    }

    Child child;
    ASSERT_TRUE(child.started());
    const std::vector<std::uint32_t> sessions{child.id()};
    const auto facts = ProcessFactGatherer().gather("Olvex.Test.Player", sessions);
    DestroyWindow(window);
    const ProcessFacts* self = find(facts, GetCurrentProcessId());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->window_app_ids, std::vector<std::string>{"Olvex.Test.Player"});
    EXPECT_EQ(match_app_processes({.id = "olvex.test.player"}, facts, sessions),
              (AppProcessMatch{MatchRule::window, sessions}));
}

// Firefox's record of its install folder's id names the executables there.
TEST(ProcessFactsWin, NameTheExecutablesOfAnInstallFolderFirefoxRecorded) {
    ASSERT_TRUE(SUCCEEDED(join_multithreaded_apartment()));
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.rfind(L'\\'));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Mozilla\\Firefox\\TaskBarIDs", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring hash = L"0123456789ABCDEF";
    ASSERT_EQ(RegSetValueExW(key, folder.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(hash.c_str()),
                             static_cast<DWORD>((hash.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ProcessFactGatherer gatherer;
    const auto everyone = gatherer.gather("0123456789abcdef", {});
    const auto services = std::ranges::find(everyone, std::string("services.exe"), &ProcessFacts::executable);
    ASSERT_NE(services, everyone.end());
    const std::vector<std::uint32_t> playing{GetCurrentProcessId(), services->id};
    const auto facts = gatherer.gather("0123456789abcdef", playing);
    RegDeleteValueW(key, folder.c_str());
    RegCloseKey(key);
    EXPECT_EQ(find(facts, playing[0])->shell_app_id, "0123456789abcdef");
    EXPECT_EQ(find(facts, playing[1])->shell_app_id, std::nullopt) << "a program of another folder";
}

}  // namespace
}  // namespace olvex::volume
