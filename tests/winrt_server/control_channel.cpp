#include <winsock2.h>
#include <ws2tcpip.h>

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "winrt_server/control.hpp"
#include "winrt_server/server_state.hpp"

namespace olvex::test_server {

namespace {

// One connection to the controlling test; lines both ways.
class Channel {
public:
    explicit Channel(SOCKET socket) : socket_(socket) {}

    void send_line(const std::string& line) {
        const std::string framed = line + "\n";
        const std::lock_guard lock(send_mutex_);
        std::size_t sent = 0;
        while (sent < framed.size()) {
            const int now = ::send(socket_, framed.data() + sent, static_cast<int>(framed.size() - sent), 0);
            if (now <= 0) return;
            sent += static_cast<std::size_t>(now);
        }
    }

    // Serves lines until the test closes the channel.
    void serve() {
        std::string pending;
        char chunk[4096];
        for (;;) {
            const int received = ::recv(socket_, chunk, sizeof(chunk), 0);
            if (received <= 0) break;
            pending.append(chunk, static_cast<std::size_t>(received));
            for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                send_line(execute_control_line(line));
                if (line.starts_with("start")) release_start();
            }
        }
        release_start();
    }

    void wait_for_start() {
        std::unique_lock lock(start_mutex_);
        started_.wait_for(lock, std::chrono::seconds(30), [this] { return start_released_; });
    }

private:
    void release_start() {
        const std::lock_guard lock(start_mutex_);
        start_released_ = true;
        started_.notify_all();
    }

    SOCKET socket_;
    std::mutex send_mutex_;
    std::mutex start_mutex_;
    std::condition_variable started_;
    bool start_released_ = false;
};

SOCKET connect_to(const std::string& address) {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos) return INVALID_SOCKET;
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return INVALID_SOCKET;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), &hints, &found) != 0) {
        return INVALID_SOCKET;
    }
    SOCKET socket = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (socket != INVALID_SOCKET && ::connect(socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
        closesocket(socket);
        socket = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    return socket;
}

void open_once() {
    const char* address = std::getenv("OLVEX_TEST_MEDIA_CONTROL");
    if (address == nullptr || *address == '\0') return;
    const SOCKET socket = connect_to(address);
    if (socket == INVALID_SOCKET) return;
    // Lives as long as the process, like the threads that use it.
    auto* channel = new Channel(socket);
    state().set_command_listener([channel](const std::string& entry) { channel->send_line("command " + entry); });
    std::thread([channel] { channel->serve(); }).detach();
    channel->wait_for_start();
}

}  // namespace

void open_control_channel() {
    static std::once_flag opened;
    std::call_once(opened, open_once);
}

}  // namespace olvex::test_server
