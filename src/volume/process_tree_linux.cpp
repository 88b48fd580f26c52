#include "volume/process_tree_linux.hpp"

#include <charconv>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>

namespace olvex::volume {

namespace {

// Real process trees are a handful of generations deep; the bound only keeps
// a walk finite while processes die and their numbers are reused.
constexpr int DEEPEST_DESCENT = 64;

// Counted from the state, the first field after the name: the parent is the
// second, the start time (in clock ticks since boot) the twentieth.
constexpr int PARENT_FIELD = 1;
constexpr int START_TIME_FIELD = 19;

template <typename Number>
std::optional<Number> number_of(const std::string& text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// From /proc/<pid>/stat: "pid (comm) state ppid ...", where comm may itself
// hold spaces and parentheses, so the fields are counted from the last ')'.
std::optional<ProcessFacts> facts_of(std::uint32_t process_id) {
    std::ifstream file("/proc/" + std::to_string(process_id) + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const auto name_end = stat.rfind(')');
    if (name_end == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(name_end + 1));
    std::string field;
    std::optional<std::uint32_t> parent;
    std::optional<std::uint64_t> started;
    for (int index = 0; index <= START_TIME_FIELD && fields >> field; ++index) {
        if (index == PARENT_FIELD) parent = number_of<std::uint32_t>(field);
        if (index == START_TIME_FIELD) started = number_of<std::uint64_t>(field);
    }
    if (!parent || !started) return std::nullopt;
    return ProcessFacts{.id = process_id, .parent = *parent, .started = *started, .executable = {}};
}

}  // namespace

std::vector<ProcessFacts> process_lineage(std::span<const std::uint32_t> processes) {
    std::vector<ProcessFacts> lineage;
    std::set<std::uint32_t> seen;
    for (const std::uint32_t process : processes) {
        std::uint32_t current = process;
        for (int generation = 0; generation <= DEEPEST_DESCENT; ++generation) {
            // The top of the tree: init, or the kernel's own threads.
            if (current <= 1 || !seen.insert(current).second) break;
            auto facts = facts_of(current);
            if (!facts) break;
            current = facts->parent;
            lineage.push_back(std::move(*facts));
        }
    }
    return lineage;
}

}  // namespace olvex::volume
