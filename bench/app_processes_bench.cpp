// The decision which processes make an application's sound, over the facts of
// a desktop with 300 processes, 200 window ids and a browser's audio child.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "volume/app_processes.hpp"

namespace {

using namespace olvex::volume;

std::vector<ProcessFacts> busy_desktop() {
    std::vector<ProcessFacts> processes;
    for (std::uint32_t i = 1; i <= 300; ++i) {
        ProcessFacts process{.id = i * 4, .parent = i > 1 ? (i / 2) * 4 : 0, .started = i,
                             .executable = "program" + std::to_string(i) + ".exe"};
        if (i <= 200) process.window_app_ids.push_back("Vendor.App" + std::to_string(i));
        processes.push_back(std::move(process));
    }
    processes.back().executable = "chrome.exe";  // the audio child of process 150's browser
    processes[149].window_app_ids = {"Chrome"};
    return processes;
}

// The worst case: every rule tried, the last (the shell's) finds it.
void match_by_last_rule(benchmark::State& state) {
    auto processes = busy_desktop();
    processes[149].shell_app_id = "308046B0AF4A39CB";
    const std::vector<std::uint32_t> sessions{40, 400, 800, 1200};
    for (auto _ : state) {
        benchmark::DoNotOptimize(match_app_processes({.id = "308046B0AF4A39CB"}, processes, sessions));
    }
}
BENCHMARK(match_by_last_rule);

}  // namespace
