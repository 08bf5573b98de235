// `mbus read`, `mbus address` and `mbus valve` on a line and a port out of the ordinary, run in
// this process through RunMbus: a device that streams without a pause (a frame is bounded, so
// memory stays flat), a device path that holds control characters and bytes that are no UTF-8 (the
// CSV stays valid UTF-8), two meters that both answer the wildcard address, and a line that answers
// with bytes that are no read-address reply (a wrong baud rate looks like that); two meters that
// accept a write, and a frame that answers no request. Every case works in a temporary
// XDG_CONFIG_HOME without port discovery.
#include "mbus_run.h"

#include "protocol/frame_layout.h"
#include "protocol/meter_reply.h"
#include "support/pty_pair.h"
#include "support/running_sim.h"
#include "support/temp_config_home.h"
#include "tools/command_io.h"
#include "tools/reader_session.h"
#include "util/utf8_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace mbus::tools {
namespace {

using namespace std::chrono_literals;

TEST(EndlessLine, FramesAreBoundedWhateverTheLineSends) {
    testing::TempConfigHome home;
    testing::PtyPair line;
    testing::RegisterTestPort(line, 1);
    std::atomic<bool> done{false};
    // Once the request has come, about 1 MB/s without a pause, as the fastest serial lines carry.
    std::thread streamer([&] {
        std::vector<std::uint8_t> chunk(1024);
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<std::uint8_t>(i);
        bool asked = false;
        while (!done.load()) {
            std::uint8_t request[256];
            const auto got = line.ReadMaster(request);
            asked = asked || got.Count > 0;
            if (asked)
                line.WriteMaster(chunk);
            std::this_thread::sleep_for(1ms);
        }
    });
    const MbusRun run = RunMbusHere({"read", "--port", "COM1", "--timeout", "300"});
    done.store(true);
    streamer.join();

    std::size_t frames = 0;
    for (const std::string& text : run.OutLines()) {
        if (text.rfind("RX ", 0) != 0)
            continue;
        ++frames;
        const std::size_t bytes = (text.size() - 2) / 3;
        EXPECT_LE(bytes, ReaderSession::kLongestFrame);
    }
    EXPECT_GE(frames, 2u) << run.Err;
}

TEST(OddDevicePath, CsvEscapesItsControlCharactersAndBytesThatAreNoUtf8) {
    testing::TempConfigHome home;
    testing::RunningSim sim({});
    const std::string device = (home.Root() / "tty\x1b\xff").string();
    std::filesystem::create_symlink(sim.DevicePath, device);

    const MbusRun run = RunMbusHere({"read", "--port", device, "--csv"});
    EXPECT_EQ(run.Status, kExitOk) << run.Err;
    const auto lines = run.OutLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string port = (home.Root() / "tty\\u001b\\u00ff").string();
    EXPECT_NE(lines[1].find("," + port + ","), std::string::npos) << lines[1];
    for (std::string_view text = run.Out; !text.empty();) {
        const std::size_t length = util::Utf8CharacterLength(text);
        ASSERT_GT(length, 0u) << "no UTF-8 at byte " << run.Out.size() - text.size();
        text.remove_prefix(length);
    }
}

// A fake line on COM1 that answers the first request it reads with `answer`.
class AnsweringLine {
public:
    explicit AnsweringLine(std::vector<std::uint8_t> answer) : Answer_(std::move(answer)) {
        testing::RegisterTestPort(Line_, 1);
        Thread_ = std::thread([this] { Run(); });
    }
    ~AnsweringLine() {
        Done_.store(true);
        Thread_.join();
    }

private:
    void Run() {
        while (!Done_.load()) {
            std::uint8_t request[256];
            if (Line_.ReadMaster(request).Count > 0) {
                Line_.WriteMaster(Answer_);
                return;
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    testing::TempConfigHome Home_;
    testing::PtyPair Line_;
    std::vector<std::uint8_t> Answer_;
    std::atomic<bool> Done_{false};
    std::thread Thread_;
};

TEST(AddressLine, TwoMetersAnsweringAndBytesThatAreNoAddressReplyAreSaid) {
    protocol::ReplyHeader first;
    first.TypeCode = 0x10;
    first.Address = {0x01, 0, 0, 0, 0, 0, 0};
    first.DataId = protocol::kReadAddressId;
    protocol::ReplyHeader second = first;
    second.Address = {0x02, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> both = protocol::BuildAddressReply(first);
    const auto other = protocol::BuildAddressReply(second);
    both.insert(both.end(), other.begin(), other.end());
    {
        const AnsweringLine line(both);
        const MbusRun run = RunMbusHere({"address", "--port", "COM1", "--timeout", "1000"});
        EXPECT_EQ(run.Status, kExitIncomplete);
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "mbus address: more than one meter answered: 00000000000001, "
                           "00000000000002\n");
    }
    {
        const AnsweringLine line({0x12, 0x34, 0xE5});
        const MbusRun run = RunMbusHere({"address", "--port", "COM1", "--timeout", "300"});
        EXPECT_EQ(run.Status, kExitIncomplete);
        EXPECT_EQ(run.Err,
                  "mbus address: 3 bytes came back, but no read-address reply: 12 34 E5\n");
    }
}

// A write is answered by one meter: two meters that accept a write to the wildcard address are
// said, and a frame that answers no request (another meter's) is shown, not called no answer.
TEST(OperationLine, TwoMetersAcceptingAndAFrameThatAnswersNothingAreSaid) {
    protocol::ReplyHeader first;
    first.TypeCode = 0x10;
    first.Address = {0x01, 0, 0, 0, 0, 0, 0};
    first.DataId = {0xA0, 0x17};
    protocol::ReplyHeader second = first;
    second.Address = {0x02, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> status{0x01, 0x00};
    std::vector<std::uint8_t> both = protocol::BuildDataReply(first, 0x84, status);
    const auto other = protocol::BuildDataReply(second, 0x84, status);
    both.insert(both.end(), other.begin(), other.end());
    {
        const AnsweringLine line(both);
        const MbusRun run = RunMbusHere({"valve", "close", "--port", "COM1", "--timeout", "1000"});
        EXPECT_EQ(run.Status, kExitIncomplete);
        EXPECT_EQ(run.Err, "mbus valve: more than one meter answered: 00000000000001, "
                           "00000000000002\n");
    }
    {
        const AnsweringLine line(other);
        const MbusRun run = RunMbusHere(
            {"valve", "close", "--port", "COM1", "--addr", "00000000000001", "--timeout", "300"});
        EXPECT_EQ(run.Status, kExitIncomplete);
        EXPECT_EQ(run.Err, "mbus valve: 20 bytes came back, but no answer to the request: FE FE "
                           "68 10 02 00 00 00 00 00 00 84 05 A0 17 00 01 00 BB 16\n");
    }
}

} // namespace
} // namespace mbus::tools
