// `mbus sim` as a program: it registers its pseudo-terminal as a COM port, a program opens that
// COM name through the comm device, sends the console's default request and reads back a reply
// that `mbus decode` decodes; the link goes when the simulator is stopped, and leads nowhere once
// it is killed. It answers one request at a time. Also its options.
#include "platform/comm_device.h"
#include "platform/port_map.h"
#include "platform/system_error.h"
#include "protocol/read_frame.h"
#include "protocol/response_decoder.h"
#include "support/child_process.h"
#include "support/pty_pair.h"
#include "support/running_sim.h"
#include "support/temp_config_home.h"
#include "support/wait_until.h"
#include "tools/sim_command.h"
#include "util/string_c.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace mbus::tools {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::RunningSim;
using Bytes = std::vector<std::uint8_t>;

std::string Mbus() {
    return testing::ProgramFromEnvironment("MBUS_PROGRAM");
}

// A port opened through the comm device by name, with immediate reads.
class Port {
public:
    explicit Port(const std::string& name) : Handle_(platform::CreateFile(name)) {
        Read_.hEvent = &ReadDone_;
        Write_.hEvent = &WriteDone_;
        platform::COMMTIMEOUTS atOnce;
        atOnce.ReadIntervalTimeout = platform::MAXDWORD;
        if (Handle_ != platform::INVALID_HANDLE_VALUE)
            platform::SetCommTimeouts(Handle_, &atOnce);
    }
    ~Port() {
        if (Handle_ != platform::INVALID_HANDLE_VALUE)
            platform::CloseHandle(Handle_);
    }
    bool IsOpen() const { return Handle_ != platform::INVALID_HANDLE_VALUE; }

    bool Send(const Bytes& bytes) {
        std::uint32_t written = 0;
        if (platform::WriteFile(Handle_, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                &written, &Write_))
            return written == bytes.size();
        return platform::LastError() == platform::ERROR_IO_PENDING &&
               platform::GetOverlappedResult(Handle_, &Write_, &written, true) &&
               written == bytes.size();
    }

    // Reads until `complete` holds for what came, or the time-out passes.
    Bytes Receive(const std::function<bool(const Bytes&)>& complete,
                  std::chrono::milliseconds timeout = 10s) {
        Bytes got;
        testing::WaitFor(
            [&] {
                std::uint8_t chunk[256];
                std::uint32_t n = 0;
                if (platform::ReadFile(Handle_, chunk, sizeof chunk, &n, &Read_))
                    got.insert(got.end(), chunk, chunk + n);
                return complete(got);
            },
            timeout);
        return got;
    }

private:
    platform::CommHandle Handle_;
    platform::Event ReadDone_{true};
    platform::Event WriteDone_{true};
    platform::Overlapped Read_;
    platform::Overlapped Write_;
};

Bytes DefaultRequest() {
    protocol::ReadFrameBuffer frame{};
    const std::array<std::uint8_t, 7> address{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    protocol::BuildReadFrame(frame, address, 0x10, protocol::kControlRead, {{0x1F, 0x90}});
    return {frame.begin(), frame.end()};
}

bool Decodes(const Bytes& bytes) {
    return protocol::DecodeReply(bytes).Layout != protocol::ReplyLayout::None;
}

class SimCommandTest : public ::testing::Test {
protected:
    testing::TempConfigHome Home;
};

TEST_F(SimCommandTest, AnsweredRequestDecodesAndTheLinkGoesAtTheEnd) {
    RunningSim sim({});
    ASSERT_EQ(sim.ComName, "COM1");
    ASSERT_EQ(sim.DevicePath.rfind("/dev/pts/", 0), 0u) << sim.DevicePath;
    EXPECT_EQ(platform::ResolveDeviceName("COM1"), sim.DevicePath);

    Bytes reply;
    {
        Port port("\\\\.\\COM1");
        ASSERT_TRUE(port.IsOpen()) << platform::LastError();
        ASSERT_TRUE(port.Send(DefaultRequest()));
        reply = port.Receive(Decodes);
    }
    std::string hex = util::BytesToHex(reply);
    ChildProcess decode({Mbus(), "decode", hex});
    const auto line = decode.ReadLine(10s);
    EXPECT_EQ(decode.Wait(10s), 0);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rfind("当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:", 0), 0u)
        << *line;

    // The console may close and open the port again: the simulator's line stays up.
    {
        Port again("COM1");
        ASSERT_TRUE(again.IsOpen()) << platform::LastError();
        ASSERT_TRUE(again.Send(DefaultRequest()));
        const std::string second = protocol::DecodeMeterData(again.Receive(Decodes));
        EXPECT_EQ(second.rfind("当前累积流量:000012.51;", 0), 0u) << second;
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(platform::ResolveDeviceName("COM1"));
}

TEST_F(SimCommandTest, SeveralSimulatorsTakeTheLowestFreeNumbersOrTheOneAsked) {
    RunningSim first({});
    RunningSim second({"--com", "5", "--meter", "4:12345678901234", "--preamble", "0"});
    RunningSim third({});
    EXPECT_EQ(first.ComName, "COM1");
    EXPECT_EQ(second.ComName, "COM5");
    EXPECT_EQ(third.ComName, "COM2");

    ChildProcess taken({Mbus(), "sim", "--com", "5"});
    EXPECT_EQ(taken.Wait(10s), 1);
    EXPECT_NE(taken.ReadErrors(10s).find("COM5"), std::string::npos);

    Port heat("COM5");
    ASSERT_TRUE(heat.IsOpen());
    protocol::ReadFrameBuffer frame{};
    const std::array<std::uint8_t, 7> address{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34};
    protocol::BuildReadFrame(frame, address, 0x20, protocol::kControlRead, {{0x90, 0x1F}});
    ASSERT_TRUE(heat.Send({frame.begin(), frame.end()}));
    const Bytes reply = heat.Receive(Decodes);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0], 0x68); // no wake-up bytes
    EXPECT_EQ(protocol::DecodeReply(reply).Layout, protocol::ReplyLayout::Heat);

    EXPECT_EQ(first.Stop(SIGINT), 0);
    EXPECT_EQ(third.Stop(), 0);
    EXPECT_FALSE(platform::ResolveDeviceName("COM1"));
    EXPECT_FALSE(platform::ResolveDeviceName("COM2"));
    EXPECT_TRUE(platform::ResolveDeviceName("COM5"));
}

TEST_F(SimCommandTest, OneRequestAtATimeEachReplyWholeWhatComesMeanwhileIsDropped) {
    // Like one meter on a half-duplex line: a flood of requests gets one reply, in its bursts
    // one after the other, and leaves no queue of stale replies (nor memory) behind.
    RunningSim sim({"--delay", "300", "--split", "3:20"});
    Port port(sim.ComName);
    ASSERT_TRUE(port.IsOpen());
    Bytes flood;
    for (int i = 0; i < 50; ++i) {
        const Bytes request = DefaultRequest();
        flood.insert(flood.end(), request.begin(), request.end());
    }
    ASSERT_TRUE(port.Send(flood));
    for (int i = 0; i < 3; ++i) { // more while the meter is still busy
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(port.Send(DefaultRequest()));
    }
    const Bytes first = port.Receive([](const Bytes&) { return false; }, 1s);
    const std::string firstText = protocol::DecodeMeterData(first);
    EXPECT_EQ(firstText.rfind("当前累积流量:000012.34;", 0), 0u) << util::BytesToHex(first);

    ASSERT_TRUE(port.Send(DefaultRequest()));
    const Bytes second = port.Receive([](const Bytes&) { return false; }, 1s);
    const std::string secondText = protocol::DecodeMeterData(second);
    EXPECT_EQ(secondText.rfind("当前累积流量:000012.51;", 0), 0u)
        << "the meter was read once before";
    EXPECT_EQ(first.size(), second.size()) << "one whole reply each time";
}

// Paced at 2400 baud 8E1 (11 bits, 4.58 ms a byte) the meter hears the request when its 18 bytes
// would have passed on the wire and writes its reply a byte at a time: the reply cannot be whole
// before both wire times have passed (asserted as a lower bound, with a tenth to spare). A
// request sent while the reply goes out is dropped, and said on standard error.
TEST_F(SimCommandTest, APacedReplyTakesItsWireTimeAndARequestMeanwhileIsDroppedAndSaid) {
    RunningSim sim({"--baud", "2400", "--parity", "even"}, testing::SimPacing::Paced);
    Port port(sim.ComName);
    ASSERT_TRUE(port.IsOpen());
    const Bytes request = DefaultRequest();
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(port.Send(request));
    bool collided = false;
    const Bytes reply = port.Receive([&](const Bytes& got) {
        if (!got.empty() && !collided)
            collided = port.Send(request); // while the meter is still answering
        return Decodes(got) && got.back() == 0x16;
    });
    const auto whole = std::chrono::steady_clock::now();
    ASSERT_TRUE(Decodes(reply)) << util::BytesToHex(reply);
    ASSERT_TRUE(collided);

    const std::chrono::duration<double, std::milli> byteTime(11.0 * 1000 / 2400);
    const auto wireTime = byteTime * static_cast<double>(request.size() + reply.size());
    EXPECT_GE(whole - sent, 0.9 * wireTime)
        << "whole after " << std::chrono::duration<double, std::milli>(whole - sent).count()
        << " ms; the wire takes " << wireTime.count() << " ms";

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Process.ReadErrors(10s),
              "mbus sim: request to AAAAAAAAAAAAAA type 0x10 dropped: still answering\n");
}

TEST_F(SimCommandTest, AProgramThatClosesTheDeviceLeavesNoReplyForTheNext) {
    // A writer sends a request, takes the echo that shows the meter is answering, and closes the
    // device without waiting for the reply, which is still due then and goes with it. The next
    // program to open the device, whatever it is, finds the line quiet.
    RunningSim sim({"--echo", "--delay", "300"});
    const Bytes request = DefaultRequest();
    const int writer = ::open(sim.DevicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, request.data(), request.size()),
              static_cast<ssize_t>(request.size()));
    Bytes echo(request.size());
    for (std::size_t got = 0; got < echo.size();) {
        pollfd readable{writer, POLLIN, 0};
        ASSERT_EQ(::poll(&readable, 1, 10000), 1) << "no echo";
        const ssize_t n = ::read(writer, echo.data() + got, echo.size() - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(echo, request);
    ::close(writer);

    const int next = ::open(sim.DevicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(next, 0);
    pollfd readable{next, POLLIN, 0};
    EXPECT_EQ(::poll(&readable, 1, 1000), 0) << "a reply for a program that has gone";
    ::close(next);

    // The meter answers whoever asks next: the echo, then the reply.
    Port port(sim.ComName);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Send(request));
    const auto echoAndReply = [&](const Bytes& got) {
        return got.size() > request.size() && Decodes({got.begin() + request.size(), got.end()});
    };
    EXPECT_TRUE(echoAndReply(port.Receive(echoAndReply)));
}

TEST_F(SimCommandTest, EndsCleanlyOnSigquitAndAKilledSimulatorsLinkLeadsNowhere) {
    {
        RunningSim sim({});
        ASSERT_EQ(sim.ComName, "COM1");
        EXPECT_EQ(sim.Stop(SIGQUIT), 0);
        EXPECT_FALSE(std::filesystem::exists(Home.PortsDirectory() / "COM1"));
    }
    RunningSim sim({});
    ASSERT_EQ(sim.ComName, "COM1");
    EXPECT_EQ(sim.Stop(SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(std::filesystem::is_symlink(Home.PortsDirectory() / "COM1")); // left behind
    // Pseudo-terminal numbers are reused: another program's terminal takes the dead one's.
    std::vector<std::unique_ptr<testing::PtyPair>> fresh;
    testing::PtyPair* other = nullptr;
    while (fresh.size() < 64 && other == nullptr) {
        fresh.push_back(std::make_unique<testing::PtyPair>());
        if (fresh.back()->SlavePath() == sim.DevicePath)
            other = fresh.back().get();
    }

    ChildProcess read({Mbus(), "read", "--port", "COM1", "--timeout", "100"});
    EXPECT_EQ(read.Wait(10s), 2);
    EXPECT_EQ(read.ReadErrors(10s),
              "mbus read: COM1: ie_BadId - Specified comport doesn't exist\n");
    ChildProcess ports({Mbus(), "ports"});
    EXPECT_EQ(ports.ReadLine(10s), std::nullopt) << "nothing listed";
    EXPECT_EQ(ports.Wait(10s), 0);
    EXPECT_FALSE(std::filesystem::exists(Home.PortsDirectory() / "COM1")); // removed when found
    EXPECT_FALSE(std::filesystem::exists(Home.PortsDirectory() / ".COM1.owner"));
    if (other != nullptr) {
        EXPECT_TRUE(other->ReadFromDevice(1, 200ms).empty()) << "the other terminal got a byte";
    }
}

TEST_F(SimCommandTest, StrayEntriesInThePortsFolderAreSkipped) {
    std::ofstream(Home.PortsDirectory() / "COM1").put('x');
    std::filesystem::create_directory(Home.PortsDirectory() / "COM2");
    RunningSim sim({});
    EXPECT_EQ(sim.ComName, "COM3");
    ChildProcess taken({Mbus(), "sim", "--com", "1"});
    EXPECT_EQ(taken.Wait(10s), 1);
    EXPECT_NE(taken.ReadErrors(10s).find("the ports folder already has an entry COM1"),
              std::string::npos);
}

TEST_F(SimCommandTest, SilentMeterAnswersNothing) {
    RunningSim sim({"--silent"});
    Port port(sim.ComName);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Send(DefaultRequest()));
    EXPECT_TRUE(port.Receive(Decodes, 300ms).empty());
}

TEST(SimOptionsTest, MeterSpecsAreParsedAsTyped) {
    std::string error;
    const auto spec = ParseMeterSpec("4:12345678901234", error);
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(spec->TypePosition, 4);
    EXPECT_EQ(spec->Address, (protocol::LineAddress{0x34, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_FALSE(ParseMeterSpec("4", error));
    EXPECT_FALSE(ParseMeterSpec("8:00000000000001", error));
    EXPECT_FALSE(ParseMeterSpec("0:000001", error));
    EXPECT_NE(error.find("7"), std::string::npos);
}

TEST_F(SimCommandTest, HelpAndBadOptions) {
    ChildProcess help({Mbus(), "sim", "--help"});
    std::string text;
    while (const auto line = help.ReadLine(10s))
        text += *line + "\n";
    EXPECT_EQ(help.Wait(10s), 0);
    for (const char* option : {"--meter", "--com", "--preamble", "--delay", "--split", "--echo",
                               "--corrupt-checksum", "--silent", "--noise"})
        EXPECT_NE(text.find(option), std::string::npos) << option;

    for (std::vector<std::string> bad : {std::vector<std::string>{"--com", "0"},
                                         {"--meter", "0:12"},
                                         {"--split", "2"},
                                         {"--delay", "-1"},
                                         {"--loud"},
                                         {"extra"}}) {
        bad.insert(bad.begin(), {Mbus(), "sim"});
        ChildProcess run(bad);
        EXPECT_EQ(run.Wait(10s), 2) << bad[2];
        const std::string errors = run.ReadErrors(10s);
        EXPECT_EQ(errors.rfind("mbus sim: ", 0), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

} // namespace
} // namespace mbus::tools
