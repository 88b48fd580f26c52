#include "volume/process_tree_linux.hpp"

#include <charconv>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace olvex::volume {

namespace {

// Real process trees are a handful of generations deep; the bound only keeps
// a walk finite while processes die and their numbers are reused.
constexpr int DEEPEST_DESCENT = 64;

// The parent from /proc/<pid>/stat: "pid (comm) state ppid ...", where comm
// may itself hold spaces and parentheses, so the fields are counted from the
// last ')'.
std::optional<std::uint32_t> parent_of(std::uint32_t process_id) {
    std::ifstream file("/proc/" + std::to_string(process_id) + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const auto name_end = stat.rfind(')');
    if (name_end == std::string::npos) return std::nullopt;
    const auto state = stat.find_first_not_of(' ', name_end + 1);
    if (state == std::string::npos) return std::nullopt;
    const auto parent = stat.find_first_not_of(' ', stat.find(' ', state));
    if (parent == std::string::npos) return std::nullopt;
    std::uint32_t parent_id = 0;
    const char* end = stat.data() + stat.size();
    if (std::from_chars(stat.data() + parent, end, parent_id).ec != std::errc{}) return std::nullopt;
    return parent_id;
}

}  // namespace

bool is_process_within_tree(std::uint32_t process_id, std::uint32_t ancestor) {
    std::uint32_t current = process_id;
    for (int generation = 0; generation <= DEEPEST_DESCENT; ++generation) {
        if (current == ancestor) return true;
        if (current <= 1) return false;  // the top of the tree: init, or the kernel's own threads
        const auto parent = parent_of(current);
        if (!parent) return false;
        current = *parent;
    }
    return false;
}

}  // namespace olvex::volume
