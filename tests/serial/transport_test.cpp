#include "serial/transport.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fakes/fake_serial_port.hpp"

namespace olvex::serial {
namespace {

using namespace std::chrono_literals;
using testing_support::FakePortSystem;
using testing_support::FakeSerialLine;

constexpr TransportTiming FAST{.write_stall_limit = Duration::from_millis(200),
                               .idle_pause = Duration::from_millis(5),
                               .port_timeout = Duration::from_millis(20)};

std::string bytes(std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += static_cast<char>('a' + i % 26);
    return out;
}

class WriteFrame : public testing::Test {
protected:
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    std::unique_ptr<SerialPort> port = line->open_handle({});
};

TEST_F(WriteFrame, CutsFramesIntoPiecesOfAtMost512Bytes) {
    const std::string frame = bytes(1500);
    EXPECT_TRUE(write_frame("COM7", *port, frame, FAST));
    const auto pieces = line->pieces();
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 512u);
    EXPECT_EQ(pieces[1].size(), 512u);
    EXPECT_EQ(pieces[2].size(), 476u);
    EXPECT_EQ(line->written(), frame);
}

TEST_F(WriteFrame, EmptyFrameSucceedsWithoutTouchingThePort) {
    line->set_write_mode(FakeSerialLine::WriteMode::fail);
    EXPECT_TRUE(write_frame("COM7", *port, "", FAST));
    EXPECT_TRUE(line->pieces().empty());
}

TEST_F(WriteFrame, GivesUpOnlyAfterTheStallLimitWithoutProgress) {
    line->set_write_mode(FakeSerialLine::WriteMode::accept_nothing);
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(write_frame("COM7", *port, bytes(35), FAST));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "serial: COM7 accepted nothing for 200ms, 0 of 35 bytes sent\n");
}

TEST_F(WriteFrame, SlowButSteadyProgressNeverStalls) {
    // One byte every 80 ms against a 200 ms stall limit: a second and a half
    // in all, yet never 200 ms without progress.
    line->set_write_mode(FakeSerialLine::WriteMode::trickle, 80ms);
    EXPECT_TRUE(write_frame("COM7", *port, bytes(18), FAST));
    EXPECT_EQ(line->written(), bytes(18));
}

TEST_F(WriteFrame, WriteErrorEndsTheFrameWithItsText) {
    line->set_write_mode(FakeSerialLine::WriteMode::fail);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_frame("COM7", *port, bytes(10), FAST));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "serial: COM7 write failed after 0 of 10 bytes: broken line\n");
}

class Connection : public testing::Test {
protected:
    FakePortSystem ports;
    std::shared_ptr<FakeSerialLine> line = ports.add("COM7");

    SerialConnection open() {
        auto connection = open_serial_connection("COM7", 115200, ports.opener(), FAST);
        EXPECT_TRUE(connection.has_value());
        return std::move(*connection);
    }
    static std::string drain(Receiver<Bytes>& queue) {
        std::string all;
        while (auto chunk = queue.recv_for(10s)) all += *chunk;
        return all;
    }
};

TEST_F(Connection, ForwardsReceivedBytesInChunksOfAtMost1024InOrder) {
    auto connection = open();
    const std::string sent = bytes(3000);
    line->receive(sent);
    std::string received;
    while (received.size() < sent.size()) {
        auto chunk = connection.reader_queue.recv_for(10s);
        ASSERT_TRUE(chunk.has_value());
        EXPECT_GE(chunk->size(), 1u);
        EXPECT_LE(chunk->size(), READ_CHUNK);
        received += *chunk;
    }
    EXPECT_EQ(received, sent);
}

TEST_F(Connection, WritesFramesWholeAndInQueueOrder) {
    auto connection = open();
    auto second_sender = connection.writer_queue;
    connection.writer_queue.send("first\n");
    second_sender.send(bytes(700) + "\n");
    connection.writer_queue.send("third\n");
    EXPECT_TRUE(line->wait_until_written([](const std::string& all) { return all.ends_with("third\n"); }));
    EXPECT_EQ(line->written(), "first\n" + bytes(700) + "\nthird\n");
}

TEST_F(Connection, UnplugIsReportedOnceAndClosesTheReaderQueue) {
    auto connection = open();
    testing::internal::CaptureStderr();
    line->unplug();
    EXPECT_EQ(drain(connection.reader_queue), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "serial: COM7 went away: unplugged\n");
}

// Time-outs are never reported: a wait that ends with one is simply
// waited again.
TEST_F(Connection, ATimeOutWhileWaitingForInputIsNotADeparture) {
    line->time_out_next_wait();
    testing::internal::CaptureStderr();
    auto connection = open();
    line->receive("ping");
    auto chunk = connection.reader_queue.recv_for(10s);
    EXPECT_EQ(chunk, Bytes("ping"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Connection, AStalledWriterEndsTheReaderToo) {
    auto connection = open();
    line->set_write_mode(FakeSerialLine::WriteMode::accept_nothing);
    testing::internal::CaptureStderr();
    connection.writer_queue.send(bytes(35));
    EXPECT_EQ(drain(connection.reader_queue), "") << "the reader must end silently once the writer gave up";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "serial: COM7 accepted nothing for 200ms, 0 of 35 bytes sent\n");
    EXPECT_TRUE(line->wait_until_closed());
}

TEST_F(Connection, ReleasingTheQueueEndsClosesThePort) {
    {
        auto connection = open();
        EXPECT_EQ(line->handles_open(), 2);
    }
    EXPECT_TRUE(line->wait_until_closed());
}

TEST_F(Connection, OpenErrorsComeBackUnchanged) {
    auto missing = open_serial_connection("COM9", 115200, ports.opener(), FAST);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind, PortError::Kind::not_found);
}

}  // namespace
}  // namespace olvex::serial
