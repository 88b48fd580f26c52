#include "volume/process_facts_win.hpp"

#include <windows.h>
// Before propkey.h, which needs the property types they bring.
#include <shlobj.h>
#include <shobjidl.h>
#include <knownfolders.h>
#include <propkey.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <string_view>

#include "base/com_ptr_win.hpp"
#include "base/text.hpp"
#include "volume/process_identity_win.hpp"

namespace olvex::volume {

namespace {

// System.Link.TargetParsingPath, which the toolchain's propkey.h lacks: the
// path of what a shortcut points at.
constexpr PROPERTYKEY LINK_TARGET_PARSING_PATH = {
    {0xB9B4B3FC, 0x2B51, 0x4A42, {0xB5, 0xD8, 0x32, 0x41, 0x46, 0xAF, 0xCF, 0x25}}, 2};

constexpr DWORD PATH_UNITS = 1024;

std::string utf8_of(std::wstring_view text) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::wstring wide_of(std::string_view text) {
    const std::u16string units = utf8_to_utf16(text);
    return std::wstring(units.begin(), units.end());
}

// Windows paths and ids ignore case.
bool same_text(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::vector<ProcessFacts> snapshot_processes() {
    std::vector<ProcessFacts> processes;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        processes.push_back(ProcessFacts{.id = entry.th32ProcessID,
                                         .parent = entry.th32ParentProcessID,
                                         .executable = utf8_of(entry.szExeFile)});
    }
    CloseHandle(snapshot);
    return processes;
}

std::uint64_t creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::wstring image_path(HANDLE process) {
    wchar_t units[PATH_UNITS];
    DWORD length = PATH_UNITS;
    if (!QueryFullProcessImageNameW(process, 0, units, &length) || length >= PATH_UNITS) return {};
    return std::wstring(units, length);
}

bool named_by_shell(const std::wstring& path, const ProcessFactGatherer::ShellTargets& targets) {
    if (path.empty()) return false;
    const std::wstring_view folder = std::wstring_view(path).substr(0, path.rfind(L'\\') + 1);
    const auto names = [](std::wstring_view whole) {
        return [whole](const std::wstring& target) { return same_text(target, whole); };
    };
    return std::ranges::any_of(targets.executables, names(path)) || std::ranges::any_of(targets.folders, names(folder));
}

// What only the process itself can tell. A process that cannot be opened
// (another user's, a protected one) keeps its snapshot facts alone.
void add_own_facts(ProcessFacts& facts, const std::string& app_id, const ProcessFactGatherer::ShellTargets& targets) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, facts.id);
    if (process == nullptr) return;
    facts.started = creation_time(process);
    facts.package_family = package_family(process);
    if (facts.package_family) facts.package_app_id = package_app_id(process);
    if (!targets.executables.empty() || !targets.folders.empty()) {
        if (named_by_shell(image_path(process), targets)) facts.shell_app_id = app_id;
    }
    CloseHandle(process);
}

std::optional<std::string> window_app_id(HWND window) {
    ComPtr<IPropertyStore> store;
    if (FAILED(SHGetPropertyStoreForWindow(window, IID_IPropertyStore, store.put_void()))) return std::nullopt;
    PROPVARIANT value;
    PropVariantInit(&value);
    std::optional<std::string> id;
    if (SUCCEEDED(store->GetValue(PKEY_AppUserModel_ID, &value)) && value.vt == VT_LPWSTR && value.pwszVal != nullptr) {
        id = utf8_of(value.pwszVal);
    }
    PropVariantClear(&value);
    return id;
}

BOOL CALLBACK collect_window(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// The application ids on the top-level windows of the given processes, by
// the process that owns each.
std::map<std::uint32_t, std::vector<std::string>> window_app_ids(const std::set<std::uint32_t>& owners) {
    std::vector<HWND> windows;
    EnumWindows(&collect_window, reinterpret_cast<LPARAM>(&windows));
    std::map<std::uint32_t, std::vector<std::string>> ids;
    for (HWND window : windows) {
        DWORD owner = 0;
        if (GetWindowThreadProcessId(window, &owner) == 0 || !owners.contains(owner)) continue;
        auto id = window_app_id(window);
        if (!id) continue;
        auto& owned = ids[owner];
        if (std::ranges::find(owned, *id) == owned.end()) owned.push_back(std::move(*id));
    }
    return ids;
}

// The given processes and their ancestors, by the snapshot's parent links.
std::set<std::uint32_t> lines_of_descent(const std::vector<ProcessFacts>& processes,
                                         std::span<const std::uint32_t> descendants) {
    std::map<std::uint32_t, std::uint32_t> parents;
    for (const auto& process : processes) parents.emplace(process.id, process.parent);
    std::set<std::uint32_t> lines;
    for (std::uint32_t current : descendants) {
        while (current != 0 && lines.insert(current).second) {
            const auto parent = parents.find(current);
            if (parent == parents.end()) break;
            current = parent->second;
        }
    }
    return lines;
}

// The Apps folder item of the id is the Start menu's shortcut for it; for a
// desktop program it points at the executable.
std::optional<std::wstring> shortcut_target(const std::wstring& app_id) {
    ComPtr<IShellItem2> item;
    if (FAILED(SHCreateItemInKnownFolder(FOLDERID_AppsFolder, KF_FLAG_DONT_VERIFY, app_id.c_str(), IID_IShellItem2,
                                         item.put_void()))) {
        return std::nullopt;
    }
    LPWSTR target = nullptr;
    if (FAILED(item->GetString(LINK_TARGET_PARSING_PATH, &target)) || target == nullptr) return std::nullopt;
    std::wstring path(target);
    CoTaskMemFree(target);
    return path;
}

// Firefox records the id of each install under TaskBarIDs: value name the
// install folder, value data the id.
void add_firefox_install_folders(HKEY root, const std::wstring& app_id, std::vector<std::wstring>& folders) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, L"Software\\Mozilla\\Firefox\\TaskBarIDs", 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[PATH_UNITS];
        DWORD name_length = PATH_UNITS;
        wchar_t data[PATH_UNITS];
        DWORD data_bytes = sizeof(data);
        DWORD type = 0;
        const LSTATUS status = RegEnumValueW(key, index, name, &name_length, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data), &data_bytes);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        if (type != REG_SZ) continue;
        std::wstring_view id(data, data_bytes / sizeof(wchar_t));
        while (!id.empty() && id.back() == L'\0') id.remove_suffix(1);
        if (!same_text(id, app_id)) continue;
        std::wstring folder(name, name_length);
        if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
        folders.push_back(std::move(folder));
    }
    RegCloseKey(key);
}

}  // namespace

const ProcessFactGatherer::ShellTargets& ProcessFactGatherer::shell_targets(const std::string& app_id) {
    if (app_id == resolved_id_) return resolved_;
    resolved_id_ = app_id;
    resolved_ = {};
    if (app_id.empty()) return resolved_;
    const std::wstring id = wide_of(app_id);
    if (auto target = shortcut_target(id)) resolved_.executables.push_back(std::move(*target));
    add_firefox_install_folders(HKEY_CURRENT_USER, id, resolved_.folders);
    add_firefox_install_folders(HKEY_LOCAL_MACHINE, id, resolved_.folders);
    return resolved_;
}

// Only a process that plays, or one of its ancestors, can make a session the
// application's: the costly facts are learnt of those alone, the snapshot's of
// every process.
std::vector<ProcessFacts> ProcessFactGatherer::gather(const std::string& app_id,
                                                      std::span<const std::uint32_t> playing) {
    const ShellTargets& targets = shell_targets(app_id);
    auto processes = snapshot_processes();
    const auto lines = lines_of_descent(processes, playing);
    auto windows = window_app_ids(lines);
    for (auto& process : processes) {
        if (!lines.contains(process.id)) continue;
        add_own_facts(process, app_id, targets);
        const auto owned = windows.find(process.id);
        if (owned != windows.end()) process.window_app_ids = std::move(owned->second);
    }
    return processes;
}

}  // namespace olvex::volume
