#pragma once

// Driving the test media server from a test in the same process.
//
// The server is the DLL that the registry names for
// "Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager";
// `MediaServerControl` loads that very file (so the test and the Windows
// Runtime share one server) and calls its exported control functions.
//
// Every function below is also reachable as a text line through
// `olvex_media_server_execute` and through the TCP control channel that the
// server opens when OLVEX_TEST_MEDIA_CONTROL=host:port is set:
//
//   add <app id>                          -> ok <id>
//   remove <id> | current <id>|none
//   properties <id> <title>\t<artist>\t<album>
//   thumbnail <id> <hex bytes>|none
//   playback <id> <status> <rate>|none
//   timeline <id> <start> <end> <position> <last updated>|now   (ticks)
//   long_title <id> <bytes>               (a title of that many letters "x")
//   timeline_burst <id> <count>           (position 1 ms further and raised, count times)
//   raise sessions_changed|current_session_changed
//   raise <id> media_properties|playback_info|timeline_properties
//   handlers manager sessions_changed|current_session_changed   -> ok <count>
//   handlers <id> media_properties|playback_info|timeline_properties
//   fail <method> <hresult> [call|operation]
//   hang <method> on|off                  (its operations finish only after "off")
//   synchronous on|off | reset
//   load_limit <bytes>|none               (the most one DataReader.LoadAsync loads)
//   objects                               -> ok <server objects alive, its threads ended>
//   read commands|calls|violations        -> ok <entries joined by '|'>
//   start                                 (channel only: activation may go on)
//
// Replies are "ok[ <value>]" or "error <reason>". The channel also sends
// "command <entry>" for every media command the client issues, as it happens.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace olvex::testing_support {

// The class names the server is registered for.
inline constexpr const wchar_t* MANAGER_CLASS = L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager";

// GlobalSystemMediaTransportControlsSessionPlaybackStatus values.
inline constexpr int STATUS_STOPPED = 3;
inline constexpr int STATUS_PLAYING = 4;
inline constexpr int STATUS_PAUSED = 5;

enum class ServerSessionEvent : int { media_properties = 0, playback_info = 1, timeline_properties = 2 };
enum class ServerManagerEvent : int { sessions_changed = 0, current_session_changed = 1 };

class MediaServerControl {
public:
    // Loads the registered server; throws std::runtime_error when there is
    // none (the test runs outside the wrapper that registers it).
    MediaServerControl() {
        wchar_t path[MAX_PATH] = {};
        DWORD size = sizeof(path);
        const std::wstring key = std::wstring(L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\") + MANAGER_CLASS;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DllPath", RRF_RT_REG_SZ, nullptr, path, &size) !=
            ERROR_SUCCESS) {
            throw std::runtime_error("the test media server is not registered");
        }
        module_ = LoadLibraryW(path);
        if (module_ == nullptr) throw std::runtime_error("the test media server does not load");
        execute_ = function<Execute>("olvex_media_server_execute");
        set_thumbnail_ = function<SetThumbnail>("olvex_media_server_set_thumbnail");
        live_objects_ = function<LiveObjects>("olvex_media_server_live_objects");
        if (execute_ == nullptr || set_thumbnail_ == nullptr || live_objects_ == nullptr) {
            throw std::runtime_error("the test media server lacks its control functions");
        }
    }
    MediaServerControl(const MediaServerControl&) = delete;
    MediaServerControl& operator=(const MediaServerControl&) = delete;
    ~MediaServerControl() { FreeLibrary(module_); }

    // Runs one control line; the reply without "ok" (throws on "error").
    std::string run(const std::string& line) {
        std::vector<char> reply(1 << 16);
        const std::size_t length = execute_(line.c_str(), reply.data(), reply.size());
        std::string text(reply.data(), length < reply.size() ? length : reply.size() - 1);
        if (!text.starts_with("ok")) throw std::runtime_error(line + ": " + text);
        return text.size() > 3 ? text.substr(3) : std::string();
    }

    int add_session(const std::string& app_id) { return std::stoi(run("add " + app_id)); }
    void remove_session(int id) { run("remove " + std::to_string(id)); }
    void set_current(int id) { run(id == 0 ? std::string("current none") : "current " + std::to_string(id)); }
    void set_properties(int id, const std::string& title, const std::string& artist, const std::string& album) {
        run("properties " + std::to_string(id) + " " + title + "\t" + artist + "\t" + album);
    }
    void set_thumbnail(int id, const std::vector<unsigned char>& bytes) {
        if (set_thumbnail_(id, bytes.data(), bytes.size(), 1) != 0) throw std::runtime_error("no such session");
    }
    void clear_thumbnail(int id) { run("thumbnail " + std::to_string(id) + " none"); }
    void set_playback(int id, int status, const std::string& rate) {
        run("playback " + std::to_string(id) + " " + std::to_string(status) + " " + rate);
    }
    void set_timeline(int id, std::int64_t start, std::int64_t end, std::int64_t position, std::int64_t updated) {
        std::ostringstream line;
        line << "timeline " << id << ' ' << start << ' ' << end << ' ' << position << ' ' << updated;
        run(line.str());
    }
    void raise(ServerManagerEvent event) {
        run(event == ServerManagerEvent::sessions_changed ? "raise sessions_changed" : "raise current_session_changed");
    }
    void raise(int id, ServerSessionEvent event) { run("raise " + std::to_string(id) + " " + name(event)); }
    int handler_count(ServerManagerEvent event) {
        return std::stoi(run(event == ServerManagerEvent::sessions_changed ? "handlers manager sessions_changed"
                                                                            : "handlers manager current_session_changed"));
    }
    int handler_count(int id, ServerSessionEvent event) {
        return std::stoi(run("handlers " + std::to_string(id) + " " + name(event)));
    }
    // `mode` "call": the method returns `code`; "operation": its
    // asynchronous operation ends with it.
    void fail_next(const std::string& method, std::uint32_t code, const std::string& mode = "call") {
        std::ostringstream line;
        line << "fail " << method << " 0x" << std::hex << code << ' ' << mode;
        run(line.str());
    }
    // While `method` hangs, the operations it starts never finish; "off"
    // finishes those held, late.
    void hang(const std::string& method, bool on) { run("hang " + method + (on ? " on" : " off")); }
    void set_synchronous(bool on) { run(on ? "synchronous on" : "synchronous off"); }
    void reset() { run("reset"); }
    // Until reset, no DataReader.LoadAsync loads more than `bytes`, as the
    // platform may complete a load short.
    void limit_loads(std::uint32_t bytes) { run("load_limit " + std::to_string(bytes)); }

    // The server's objects of every class alive once the server's own
    // threads have ended: with the manager and sessions steady, a rise that
    // stays is a reference the client never released.
    std::int64_t live_objects() { return live_objects_(); }

    std::vector<std::string> commands() { return split(run("read commands")); }
    std::vector<std::string> calls() { return split(run("read calls")); }
    std::vector<std::string> violations() { return split(run("read violations")); }

private:
    using Execute = std::size_t(__cdecl*)(const char*, char*, std::size_t);
    using SetThumbnail = int(__cdecl*)(int, const unsigned char*, std::size_t, int);
    using LiveObjects = std::int64_t(__cdecl*)();

    template <class Function>
    Function function(const char* name) {
        // FARPROC is a stand-in type; the exported function has this one.
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    static std::string name(ServerSessionEvent event) {
        switch (event) {
            case ServerSessionEvent::media_properties:
                return "media_properties";
            case ServerSessionEvent::playback_info:
                return "playback_info";
            case ServerSessionEvent::timeline_properties:
                return "timeline_properties";
        }
        return "";
    }
    static std::vector<std::string> split(const std::string& joined) {
        std::vector<std::string> entries;
        std::istringstream in(joined);
        for (std::string entry; std::getline(in, entry, '|');) {
            if (!entry.empty()) entries.push_back(entry);
        }
        return entries;
    }

    HMODULE module_ = nullptr;
    Execute execute_ = nullptr;
    SetThumbnail set_thumbnail_ = nullptr;
    LiveObjects live_objects_ = nullptr;
};

}  // namespace olvex::testing_support
