#include "base/standard_streams.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include "log/log.hpp"
#include "support/temp_folder.hpp"

namespace olvex {
namespace {

// Standard error redirected to a file for one scope.
class StandardErrorToFile {
public:
    explicit StandardErrorToFile(const std::filesystem::path& path)
        : previous_(GetStdHandle(STD_ERROR_HANDLE)),
          file_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        SetStdHandle(STD_ERROR_HANDLE, file_);
    }
    StandardErrorToFile(const StandardErrorToFile&) = delete;
    StandardErrorToFile& operator=(const StandardErrorToFile&) = delete;
    ~StandardErrorToFile() {
        SetStdHandle(STD_ERROR_HANDLE, previous_);
        CloseHandle(file_);
    }

private:
    HANDLE previous_;
    HANDLE file_;
};

TEST(StandardStreams, LinesEndInABareLineFeed) {
    testing_support::TempFolder folder;
    const auto file = folder.path() / "stderr.txt";
    {
        StandardErrorToFile redirected(file);
        write_to_standard_error("a\nb\n");
        log_message("serial: COM7 went away");
    }
    EXPECT_EQ(testing_support::read_file(file), "a\nb\nserial: COM7 went away\n");
}

}  // namespace
}  // namespace olvex
