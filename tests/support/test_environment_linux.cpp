// Keeps the log entries that tests provoke out of the user's own crash log.

#include <cstdlib>
#include <filesystem>

namespace {

const bool state_folder_redirected = [] {
    const auto folder = std::filesystem::temp_directory_path() / "olvex-tests-state";
    return ::setenv("XDG_STATE_HOME", folder.c_str(), 1) == 0;
}();

}  // namespace
