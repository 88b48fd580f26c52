#pragma once

// What the test server keeps beside its objects: how often each ABI method was
// called, failures a test asked for, the log of media commands the client
// issued, protocol violations it noticed, and the switch between completing
// asynchronous operations on a thread of its own or at once.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <winstring.h>

namespace olvex::test_server {

// How a failure a test asked for shows itself.
enum class FailureMode : std::uint8_t {
    call,       // the method returns the HRESULT
    operation,  // the method succeeds; its asynchronous operation ends in error
};

class ServerState {
public:
    static constexpr std::uint32_t NO_LOAD_LIMIT = 0xFFFFFFFF;

    // Counts one call of `method` ("Session.TryTogglePlayPauseAsync") and
    // returns the HRESULT a test asked it to fail with once, else S_OK.
    HRESULT enter(const std::string& method);
    // The HRESULT the operation started by `method` is to end with (S_OK:
    // succeed). Asked for once per call that started an operation.
    HRESULT operation_failure(const std::string& method);

    void fail_next(const std::string& method, HRESULT code, FailureMode mode);

    // While `method` hangs, the operations it starts do not finish; when it
    // stops hanging, those held so far finish, late, as the operations of a
    // player that answers again.
    void set_hanging(const std::string& method, bool hanging);
    // Takes `finish` (the ending of an operation `method` started) to hold
    // when `method` hangs; false, leaving `finish` alone, when it does not.
    bool hold_if_hanging(const std::string& method, std::function<void()>& finish);
    void set_synchronous(bool synchronous) { synchronous_ = synchronous; }
    [[nodiscard]] bool synchronous() const { return synchronous_; }

    // The most bytes one DataReader.LoadAsync loads, whatever it is asked
    // for: the platform may complete a load with fewer bytes than requested.
    void set_load_limit(std::uint32_t bytes) { load_limit_ = bytes; }
    [[nodiscard]] std::uint32_t load_limit() const { return load_limit_; }

    // A media command the client issued, e.g. "TryChangePlaybackPositionAsync
    // Player.App 125000000".
    void log_command(const std::string& entry);
    // Something the client did that the platform would not accept.
    void log_violation(const std::string& entry);
    // Told about every command entry as it is logged.
    void set_command_listener(std::function<void(const std::string&)> listener);

    [[nodiscard]] std::vector<std::string> commands() const;
    [[nodiscard]] std::vector<std::string> violations() const;
    // "Method=count" entries in name order.
    [[nodiscard]] std::vector<std::string> call_counts() const;

    // Forgets logs and pending failures (call counts add up over the
    // process); completion goes back to its own thread, loads to full size,
    // nothing hangs any more.
    void reset();

    // A fresh event registration token.
    std::int64_t next_token() { return ++last_token_; }

private:
    struct PendingFailure {
        HRESULT code;
        FailureMode mode;
    };

    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t> calls_;
    std::map<std::string, PendingFailure> failures_;
    std::map<std::string, std::vector<std::function<void()>>> hanging_;  // method -> endings held
    std::vector<std::string> commands_;
    std::vector<std::string> violations_;
    std::function<void(const std::string&)> command_listener_;
    std::atomic<bool> synchronous_{false};
    std::atomic<std::uint32_t> load_limit_{NO_LOAD_LIMIT};
    std::atomic<std::int64_t> last_token_{0};
};

ServerState& state();

// Runs `work` on a new thread of the server's own that has joined the
// multithreaded apartment, as the platform's threads have. With `wait`, the
// caller waits until it is done.
void run_on_server_thread(std::function<void()> work, bool wait);
// Waits until no such thread runs any more, or `limit` has passed (false).
bool wait_for_server_threads(std::chrono::milliseconds limit);

// UTF-8 <-> UTF-16 for the texts the server hands out.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
// A new HSTRING holding `text` (NULL for the empty text).
HRESULT make_hstring(const std::wstring& text, HSTRING* out);

}  // namespace olvex::test_server
