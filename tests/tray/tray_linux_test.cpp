#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tray/tray.hpp"

namespace olvex::tray {
namespace {

bool quit_signal_pending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1;
}

// In a child process: prepares the signals, starts a worker thread as the
// program does before its tray, says "ready" through `ready`, then runs the
// tray. Exits 0 when run_tray succeeded and left the window handle at 0.
[[noreturn]] void run_tray_in_child(int ready) {
    prepare_quit_signals();
    std::thread([] {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }).detach();
    const auto handle = std::make_shared<TrayHandle>();
    const char byte = 1;
    if (write(ready, &byte, 1) != 1) _exit(3);
    // The signal comes before the tray waits for it (sigwait would take it
    // even from unprepared threads): only the block every thread inherited
    // keeps it from ending the process now.
    while (!quit_signal_pending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto result = run_tray(handle, *load_tray_icons(), {{COMMAND_QUIT, "Quit"}}, [](std::uint16_t) {});
    _exit(result.has_value() && handle->window() == 0 ? 0 : 1);
}

class QuitSignal : public testing::TestWithParam<int> {};

TEST_P(QuitSignal, EndsTheTrayWithSuccessEvenWithOtherThreadsRunning) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipe_ends[0]);
        run_tray_in_child(pipe_ends[1]);
    }
    close(pipe_ends[1]);
    char byte = 0;
    const auto got = read(pipe_ends[0], &byte, 1);
    close(pipe_ends[0]);
    ASSERT_EQ(got, 1);
    ASSERT_EQ(kill(child, GetParam()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, QuitSignal, testing::Values(SIGINT, SIGTERM));

}  // namespace
}  // namespace olvex::tray
