#include "media/winrt_await_win.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "media/winrt_stub_objects_win.hpp"

namespace olvex::media::winrt {
namespace {

using ::testing::EndsWith;
using testing::Finish;
using testing::StubObject;
using testing::StubOperation;

constexpr auto COMPLETED = abi::AsyncStatus::completed;

TEST(AwaitOperationWin, TakesTheResultsOfAnOperationThatEndsInsidePutCompleted) {
    StubOperation<UINT32> operation(Finish::inside_put_completed, COMPLETED, 4096);
    const auto loaded = await_operation<UINT32>(operation, "Operation");
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message;
    EXPECT_EQ(*loaded, 4096u);
    EXPECT_EQ(operation.closed, 1);
    EXPECT_TRUE(operation.handler_answers_own_iid);
    EXPECT_TRUE(operation.handler_answers_agile);
    EXPECT_EQ(operation.references(), 1u);
}

TEST(AwaitOperationWin, SleepsUntilAnotherThreadCompletesTheOperation) {
    StubOperation<boolean> operation(Finish::later_on_another_thread, COMPLETED, 1);
    const auto accepted = await_operation<boolean>(operation, "Operation");
    ASSERT_TRUE(accepted.has_value()) << accepted.error().message;
    EXPECT_EQ(*accepted, 1);
    // Results taken before the completion would have been refused.
    EXPECT_EQ(operation.results_taken, 1);
    EXPECT_EQ(operation.closed, 1);
}

TEST(AwaitOperationWin, ReportsTheErrorCodeOfAFailedOrCancelledOperation) {
    StubOperation<UINT32> failed(Finish::later_on_another_thread, abi::AsyncStatus::error, 0, E_ACCESSDENIED);
    const auto from_failed = await_operation<UINT32>(failed, "Operation");
    ASSERT_FALSE(from_failed.has_value());
    EXPECT_THAT(from_failed.error().message, EndsWith("(0x80070005)"));
    EXPECT_EQ(failed.results_taken, 0);
    EXPECT_EQ(failed.closed, 1);

    StubOperation<UINT32> cancelled(Finish::inside_put_completed, abi::AsyncStatus::canceled, 0);
    const auto from_cancelled = await_operation<UINT32>(cancelled, "Operation");
    ASSERT_FALSE(from_cancelled.has_value());
    EXPECT_THAT(from_cancelled.error().message, EndsWith("(0x800704C7)"));
}

TEST(AwaitOperationWin, ReportsARefusedCompletionHandlerWithoutWaiting) {
    StubOperation<UINT32> operation(Finish::inside_put_completed, COMPLETED, 1);
    operation.put_completed_result = static_cast<HRESULT>(0x80000018L);  // E_ILLEGAL_DELEGATE_ASSIGNMENT
    const auto loaded = await_operation<UINT32>(operation, "Operation");
    ASSERT_FALSE(loaded.has_value());
    EXPECT_THAT(loaded.error().message, EndsWith("(0x80000018)"));
}

TEST(AwaitOperationWin, HandsOverTheReferenceAnObjectResultCarries) {
    StubObject<abi::IRandomAccessStreamWithContentType> stream;
    StubOperation<abi::IRandomAccessStreamWithContentType*> operation(Finish::inside_put_completed, COMPLETED, &stream);
    {
        const auto opened = await_operation<abi::IRandomAccessStreamWithContentType*>(operation, "Operation");
        ASSERT_TRUE(opened.has_value()) << opened.error().message;
        EXPECT_EQ(opened->get(), &stream);
        EXPECT_EQ(stream.references(), 2u);
    }
    EXPECT_EQ(stream.references(), 1u);

    StubOperation<abi::IRandomAccessStreamWithContentType*> empty(Finish::inside_put_completed, COMPLETED, nullptr);
    const auto nothing = await_operation<abi::IRandomAccessStreamWithContentType*>(empty, "Operation");
    ASSERT_TRUE(nothing.has_value());
    EXPECT_FALSE(*nothing);
}

// Cancelled, closed and failed once its limit has passed; the handler it
// was given keeps what a completion after that touches.
TEST(AwaitOperationWin, GivesUpAnOperationThatDoesNotFinishInTime) {
    StubOperation<UINT32> operation(Finish::never, COMPLETED, 4096);
    const auto asked = std::chrono::steady_clock::now();
    const auto loaded = await_operation<UINT32>(operation, "LoadAsync", std::chrono::milliseconds(300));
    const auto waited = std::chrono::steady_clock::now() - asked;
    ASSERT_FALSE(loaded.has_value());
    EXPECT_EQ(loaded.error().message, "LoadAsync did not finish within 300ms");
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(operation.cancelled, 1);
    EXPECT_EQ(operation.closed, 1);
    EXPECT_TRUE(operation.closed_after_cancel);
    EXPECT_EQ(operation.results_taken, 0);

    operation.finish_late();
    EXPECT_EQ(operation.references(), 1u);
}

TEST(AwaitOperationWin, StartsThroughTheGivenCallAndReportsItsFailure) {
    StubOperation<boolean> operation(Finish::inside_put_completed, COMPLETED, 0);
    const auto refused = run_async<boolean>("Operation", [&](abi::IAsyncOperation<boolean>** slot) {
        operation.AddRef();
        *slot = &operation;
        return S_OK;
    });
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(*refused, 0);
    EXPECT_EQ(operation.references(), 1u);

    const auto failed = run_async<boolean>("Operation", [](abi::IAsyncOperation<boolean>**) { return E_OUTOFMEMORY; });
    ASSERT_FALSE(failed.has_value());
    EXPECT_THAT(failed.error().message, EndsWith("(0x8007000E)"));
}

}  // namespace
}  // namespace olvex::media::winrt
