// The players' facts as people reported them, one case a line in
// windows_player_cases.jsonl: which audio sessions the volume knob must reach.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "volume/app_processes.hpp"

namespace olvex::volume {
namespace {

using nlohmann::json;

template <typename T>
std::optional<T> optional_member(const json& object, const char* name) {
    if (!object.contains(name)) return std::nullopt;
    return object.at(name).get<T>();
}

ProcessFacts process_of(const json& line) {
    ProcessFacts process{line.at("pid").get<std::uint32_t>(), line.at("parent").get<std::uint32_t>(),
                         line.at("started").get<std::uint64_t>(), line.at("exe").get<std::string>()};
    process.package_family = optional_member<std::string>(line, "package_family");
    process.package_app_id = optional_member<std::string>(line, "package_app_id");
    process.window_app_ids = line.value("window_app_ids", std::vector<std::string>{});
    process.shell_app_id = optional_member<std::string>(line, "shell_app_id");
    return process;
}

TEST(WindowsPlayerCases, EveryReportedPlayerReachesItsOwnSessionsOnly) {
    std::ifstream file(std::string(OLVEX_SOURCE_DIR) + "/tests/volume/windows_player_cases.jsonl");
    ASSERT_TRUE(file) << "the cases file";
    int cases = 0;
    for (std::string text; std::getline(file, text);) {
        if (text.empty()) continue;
        const json line = json::parse(text);
        SCOPED_TRACE(line.at("case").get<std::string>());
        std::vector<ProcessFacts> processes;
        for (const auto& process : line.at("processes")) processes.push_back(process_of(process));
        const MediaApplication app{line.at("app_id").get<std::string>(),
                                   optional_member<std::uint32_t>(line, "media_process")};
        const auto sessions = line.at("sessions").get<std::vector<std::uint32_t>>();
        const auto match = match_app_processes(app, processes, sessions);

        const auto expected = line.at("expect").get<std::set<std::uint32_t>>();
        std::set<std::uint32_t> matched;
        if (match) matched.insert(match->session_processes.begin(), match->session_processes.end());
        EXPECT_EQ(matched, expected);
        if (line.contains("rule")) {
            ASSERT_TRUE(match);
            EXPECT_EQ(rule_name(match->rule), line.at("rule").get<std::string>());
        }
        ++cases;
    }
    EXPECT_GE(cases, 20);
}

}  // namespace
}  // namespace olvex::volume
