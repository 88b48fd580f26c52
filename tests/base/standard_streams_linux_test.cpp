#include "base/standard_streams.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace olvex {
namespace {

// Points standard error at a pipe whose reading end is already closed.
void break_standard_error() {
    int ends[2];
    if (::pipe(ends) != 0) std::_Exit(3);
    ::close(ends[0]);
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
}

TEST(StandardStreams, ABrokenPipeDoesNotEndTheProgram) {
    EXPECT_EXIT(
        {
            prepare_standard_streams();
            break_standard_error();
            write_to_standard_error("nobody reads this\n");
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(StandardStreams, ClosedDescriptorsAreHeldSoNothingElseTakesThem) {
    EXPECT_EXIT(
        {
            ::close(STDERR_FILENO);
            prepare_standard_streams();
            const int next = ::open("/dev/null", O_RDONLY);
            std::_Exit(next > STDERR_FILENO ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace olvex
