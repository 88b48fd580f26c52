#include "base/channel.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace olvex {
namespace {

using namespace std::chrono_literals;

TEST(Channel, DeliversInOrderAndClosesOnlyAfterDrainingWhenLastSenderGoes) {
    auto [tx, rx] = channel<int>();
    auto second = tx;
    EXPECT_TRUE(tx.send(1));
    EXPECT_TRUE(second.send(2));
    { auto gone = std::move(tx); }
    EXPECT_EQ(rx.try_recv(), 1);
    EXPECT_EQ(rx.try_recv(), 2);
    EXPECT_EQ(rx.try_recv(), std::unexpected(RecvError::timeout)) << "one sender is still alive";
    EXPECT_TRUE(second.send(3));
    { auto gone = std::move(second); }
    EXPECT_EQ(rx.recv(), 3) << "values sent before the close still arrive";
    EXPECT_EQ(rx.recv(), std::nullopt);
    EXPECT_EQ(rx.recv_for(1ms), std::unexpected(RecvError::closed));
}

TEST(Channel, SendFailsOnceTheReceiverIsGoneAndQueuedValuesAreFreed) {
    auto [tx, rx] = channel<std::shared_ptr<int>>();
    auto payload = std::make_shared<int>(7);
    EXPECT_TRUE(tx.send(payload));
    EXPECT_EQ(payload.use_count(), 2);
    { auto gone = std::move(rx); }
    EXPECT_EQ(payload.use_count(), 1) << "a queued value must not outlive the receiver";
    EXPECT_FALSE(tx.send(payload));
    EXPECT_EQ(payload.use_count(), 1) << "a refused value is dropped";
}

TEST(Channel, MovedFromSenderNeitherSendsNorKeepsTheQueueOpen) {
    auto [tx, rx] = channel<int>();
    auto moved = std::move(tx);
    EXPECT_FALSE(tx.send(1));  // NOLINT(bugprone-use-after-move): moved-from state is part of the contract
    { auto gone = std::move(moved); }
    EXPECT_EQ(rx.recv(), std::nullopt);
}

TEST(Channel, TimedReceiveWaitsForTheDeadlineThenReportsTimeout) {
    auto [tx, rx] = channel<int>();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(rx.recv_for(30ms), std::unexpected(RecvError::timeout));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(Channel, BlockedReceiverWakesForAValueAndForTheClose) {
    auto [tx, rx] = channel<int>();
    std::thread sender([tx = std::move(tx)]() mutable {
        std::this_thread::sleep_for(20ms);
        tx.send(42);
        std::this_thread::sleep_for(20ms);
        auto gone = std::move(tx);
    });
    EXPECT_EQ(rx.recv_for(10s), 42);
    EXPECT_EQ(rx.recv_for(10s), std::unexpected(RecvError::closed));
    sender.join();
}

TEST(Channel, ManySendersOnOtherThreadsKeepEachSendersOrder) {
    constexpr int SENDERS = 6;
    constexpr int PER_SENDER = 2000;
    auto [tx, rx] = channel<std::pair<int, int>>();
    std::vector<std::thread> threads;
    for (int id = 0; id < SENDERS; ++id) {
        threads.emplace_back([tx, id] {
            for (int n = 0; n < PER_SENDER; ++n) tx.send({id, n});
        });
    }
    { auto gone = std::move(tx); }

    std::map<int, int> next_expected;
    int received = 0;
    std::thread receiver([&, rx = std::move(rx)]() mutable {
        while (auto item = rx.recv()) {
            EXPECT_EQ(item->second, next_expected[item->first]++);
            ++received;
        }
    });
    for (auto& thread : threads) thread.join();
    receiver.join();
    EXPECT_EQ(received, SENDERS * PER_SENDER);
}

// Senders on other threads each replacing their own waiting value: every
// sender's values come in its order, and its last one always arrives.
TEST(Channel, ReplacingSendersKeepOneCurrentValueEach) {
    constexpr int SENDERS = 4;
    constexpr int PER_SENDER = 5000;
    auto [tx, rx] = channel<std::pair<int, int>>();
    std::vector<std::thread> threads;
    for (int id = 0; id < SENDERS; ++id) {
        threads.emplace_back([tx, id] {
            for (int n = 0; n < PER_SENDER; ++n) {
                tx.send_replacing({id, n}, [id](const std::pair<int, int>& waiting) { return waiting.first == id; });
            }
        });
    }
    { auto gone = std::move(tx); }

    std::map<int, int> last;
    while (auto item = rx.recv()) {
        if (last.contains(item->first)) {
            EXPECT_GT(item->second, last[item->first]);
        }
        last[item->first] = item->second;
    }
    for (auto& thread : threads) thread.join();
    for (int id = 0; id < SENDERS; ++id) EXPECT_EQ(last[id], PER_SENDER - 1) << id;
}

}  // namespace
}  // namespace olvex
