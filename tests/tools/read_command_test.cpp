// `mbus read` against the simulated meter: `mbus sim` runs as a program on its pseudo-terminal
// and the read runs in this process through RunMbus, so the port component's events are served by
// the test thread as they are by the command (or as a program where signals, users and standard
// streams matter). Every case works in a temporary XDG_CONFIG_HOME without port discovery.
#include "mbus_run.h"

#include "platform/port_map.h"
#include "protocol/parsed_reply.h"
#include "serial/com_port.h"
#include "support/child_process.h"
#include "support/running_sim.h"
#include "support/temp_config_home.h"
#include "tools/subcommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mbus::tools {
namespace {

using namespace std::chrono_literals;
using mbus::testing::RunningSim;
using mbus::testing::TempConfigHome;

const std::string kDefaultRequest = "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16";
// The simulated cold-water meter 00000000000001 up to its identifier.
const std::string kWaterReplyStart = "FE FE 68 10 01 00 00 00 00 00 00 81 16 1F 90";
const std::string kFirstReading = "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:";
const std::string kSecondReading = "当前累积流量:000012.51;";

std::string Mbus() {
    return mbus::testing::ProgramFromEnvironment("MBUS_PROGRAM");
}

struct Result {
    int Status;
    std::vector<std::string> Lines;
    std::string Err;
};

Result Read(std::vector<std::string> args) {
    args.insert(args.begin(), "read");
    const MbusRun run = RunMbusHere(args);
    return {run.Status, run.OutLines(), run.Err};
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The COM links left in a ports folder.
std::vector<std::string> ComLinks(const std::filesystem::path& folder) {
    std::vector<std::string> links;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (StartsWith(entry.path().filename().string(), "COM"))
            links.push_back(entry.path().filename().string());
    }
    return links;
}

class ReadCommandTest : public ::testing::Test {
protected:
    // A simulator whose COM link lives in a configuration folder of its own, so its device is
    // unknown to the port map the read uses.
    std::unique_ptr<RunningSim> SimOutsideTheMap(std::vector<std::string> options) {
        TempConfigHome simHome;
        return std::make_unique<RunningSim>(std::move(options));
    }

    TempConfigHome Home;
};

TEST_F(ReadCommandTest, RequestsAreAnsweredAndDecodedOneAfterTheOther) {
    RunningSim sim({});
    ASSERT_EQ(sim.ComName, "COM1");
    const Result r = Read({"--port", "COM1", "--count", "2", "--interval", "0"});
    EXPECT_EQ(r.Status, kExitOk) << r.Err;
    EXPECT_EQ(r.Err, "");
    ASSERT_EQ(r.Lines.size(), 6u);
    EXPECT_EQ(r.Lines[0], "TX " + kDefaultRequest);
    EXPECT_TRUE(StartsWith(r.Lines[1], "RX " + kWaterReplyStart)) << r.Lines[1];
    EXPECT_TRUE(StartsWith(r.Lines[2], kFirstReading)) << r.Lines[2];
    EXPECT_EQ(r.Lines[3], "TX " + kDefaultRequest);
    EXPECT_TRUE(StartsWith(r.Lines[4], "RX " + kWaterReplyStart)) << r.Lines[4];
    EXPECT_TRUE(StartsWith(r.Lines[5], kSecondReading)) << r.Lines[5];
}

// Each frame's reply is found once, for the printed line and for the request's outcome alike.
TEST_F(ReadCommandTest, EachFrameIsParsedOnce) {
    RunningSim sim({});
    const std::uint64_t before = protocol::RepliesParsed();
    const Result r = Read({"--port", sim.ComName, "--json"});
    EXPECT_EQ(r.Status, kExitOk) << r.Err;
    EXPECT_EQ(protocol::RepliesParsed(), before + 1);
}

TEST_F(ReadCommandTest, BurstsAFewMillisecondsApartMakeOneFrameLongerGapsSplitIt) {
    {
        RunningSim sim({"--split", "4:5"});
        const Result r = Read({"--port", sim.ComName});
        EXPECT_EQ(r.Status, kExitOk) << r.Err;
        ASSERT_EQ(r.Lines.size(), 3u);
        EXPECT_TRUE(StartsWith(r.Lines[1], "RX " + kWaterReplyStart)) << r.Lines[1];
        EXPECT_TRUE(StartsWith(r.Lines[2], kFirstReading)) << r.Lines[2];
    }
    {
        // Gaps well beyond eleven ticks: three frames, shown as they came, joined into the
        // reply while the request waits.
        RunningSim sim({"--split", "3:150"});
        const Result r = Read({"--port", sim.ComName, "--timeout", "800"});
        EXPECT_EQ(r.Status, kExitOk) << r.Err;
        // At least two frames, however late a loaded machine serves the ticks.
        ASSERT_GE(r.Lines.size(), 4u);
        ASSERT_LE(r.Lines.size(), 5u);
        for (std::size_t i = 1; i + 1 < r.Lines.size(); ++i)
            EXPECT_TRUE(StartsWith(r.Lines[i], "RX ")) << r.Lines[i];
        EXPECT_TRUE(StartsWith(r.Lines.back(), kFirstReading)) << r.Lines.back();
    }
    {
        // Cut into frames by a gap wider than the time-out allows: the part that came is
        // judged when the time-out passes.
        RunningSim sim({"--split", "2:400"});
        const Result r = Read({"--port", sim.ComName, "--timeout", "300"});
        EXPECT_EQ(r.Status, kExitIncomplete);
        EXPECT_NE(r.Err.find("request 1: the reply is cut short"), std::string::npos) << r.Err;
    }
}

TEST_F(ReadCommandTest, AnEchoBeforeTheReplyIsPassedOverJoinedOrOnItsOwn) {
    {
        // Echo and reply reach the line together and make one frame: the reply behind the echo
        // is decoded.
        RunningSim sim({"--echo"});
        const Result r = Read({"--port", sim.ComName, "--timeout", "500"});
        EXPECT_EQ(r.Status, kExitOk) << r.Err;
        ASSERT_EQ(r.Lines.size(), 3u);
        EXPECT_TRUE(StartsWith(r.Lines[1], "RX " + kDefaultRequest + " " + kWaterReplyStart))
            << r.Lines[1];
        EXPECT_TRUE(StartsWith(r.Lines[2], kFirstReading)) << r.Lines[2];
    }
    {
        // With the reply later than the quiet gap, the echo is a frame of its own.
        RunningSim sim({"--echo", "--delay", "200"});
        const Result r = Read({"--port", sim.ComName});
        EXPECT_EQ(r.Status, kExitOk) << r.Err;
        ASSERT_EQ(r.Lines.size(), 4u);
        EXPECT_EQ(r.Lines[1], "RX " + kDefaultRequest);
        EXPECT_TRUE(StartsWith(r.Lines[2], "RX " + kWaterReplyStart)) << r.Lines[2];
        EXPECT_TRUE(StartsWith(r.Lines[3], kFirstReading)) << r.Lines[3];
    }
}

TEST_F(ReadCommandTest, DelayedRepliesCountOnlyWithinTheTimeout) {
    {
        RunningSim sim({"--delay", "300"});
        const Result r = Read({"--port", sim.ComName, "--json"});
        EXPECT_EQ(r.Status, kExitOk) << r.Err;
        ASSERT_EQ(r.Lines.size(), 1u);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(r.Lines[0], match, std::regex(R"("elapsed_ms": (\d+),)")))
            << r.Lines[0];
        // The reply cannot be complete before the delay and the quiet gap have passed.
        EXPECT_GE(std::stoi(match[1]), 300 + 50);
    }
    {
        RunningSim sim({"--delay", "1500"});
        const Result r = Read({"--port", sim.ComName, "--timeout", "300", "--json"});
        EXPECT_EQ(r.Status, kExitIncomplete);
        ASSERT_EQ(r.Lines.size(), 1u);
        EXPECT_TRUE(std::regex_match(
            r.Lines[0],
            std::regex(R"(\{"tx": "[0-9A-F ]+", "rx": \[\], "decoded": null, )"
                       R"("elapsed_ms": (3\d\d|[4-9]\d\d|\d{4,}), "verdict": "timeout", )"
                       R"("late": false, "check": null, )"
                       R"("address": null, "type": null, "fields": null, )"
                       R"("status": null, "address_match": null, "type_match": null\})")))
            << r.Lines[0];
        EXPECT_EQ(r.Err, "mbus read: request 1: no decoded reply within 300 ms\n");
    }
    {
        // A reply later than the time-out is shown with the request it answers, does not count
        // as its reply, and is said as that request's late reply.
        RunningSim sim({"--delay", "300"});
        const Result r = Read({"--port", sim.ComName, "--timeout", "100", "--count", "2",
                               "--interval", "1000", "--json"});
        EXPECT_EQ(r.Status, kExitIncomplete);
        ASSERT_EQ(r.Lines.size(), 3u);
        EXPECT_TRUE(std::regex_search(r.Lines[0], std::regex(R"("rx": \[")" + kWaterReplyStart +
                                                             R"( [^"]+"\], "decoded": null)")))
            << r.Lines[0];
        EXPECT_NE(r.Lines[0].find(R"("verdict": "timeout", "late": false)"), std::string::npos)
            << r.Lines[0];
        EXPECT_NE(r.Lines[1].find(R"("decoded": "当前累积流量:)"), std::string::npos) << r.Lines[1];
        EXPECT_NE(r.Lines[1].find(R"("verdict": "late", "late": true)"), std::string::npos)
            << r.Lines[1];
        EXPECT_NE(r.Lines[2].find(R"("rx": [], "decoded": null)"), std::string::npos) << r.Lines[2];
    }
}

// With --reconnect a meter that goes away (its line lost under the port) is waited for: requests
// that fall due meanwhile fail as "line lost", and reading goes on when a meter is back on the
// same COM number.
TEST_F(ReadCommandTest, ReconnectWaitsForALostLineAndGoesOn) {
    auto sim = std::make_unique<RunningSim>(std::vector<std::string>{});
    const int number = sim->Number();
    std::thread restarter([&] {
        std::this_thread::sleep_for(700ms);
        const std::string device = sim->DevicePath;
        sim->Stop(SIGKILL);
        platform::RemovePortLink(number, device);
        std::this_thread::sleep_for(1000ms);
        sim =
            std::make_unique<RunningSim>(std::vector<std::string>{"--com", std::to_string(number)});
    });
    const Result r = Read({"--port", "COM" + std::to_string(number), "--count", "14", "--interval",
                           "250", "--timeout", "400", "--reconnect", "--csv"});
    restarter.join();
    EXPECT_EQ(r.Status, kExitIncomplete);
    const auto lost = std::count_if(r.Lines.begin(), r.Lines.end(), [](const std::string& line) {
        return line.find(",line-lost,") != std::string::npos;
    });
    EXPECT_GE(lost, 1) << r.Err;
    ASSERT_FALSE(r.Lines.empty());
    EXPECT_NE(r.Lines.back().find(",0000,开,正常,"), std::string::npos) << r.Lines.back();
    EXPECT_NE(r.Err.find("the line was lost; waiting for it to come back"), std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("the line is back"), std::string::npos) << r.Err;
}

TEST_F(ReadCommandTest, SilentMeterFailsEveryRequest) {
    RunningSim sim({"--silent"});
    const Result r =
        Read({"--port", sim.ComName, "--count", "2", "--interval", "0", "--timeout", "200"});
    EXPECT_EQ(r.Status, kExitIncomplete);
    EXPECT_EQ(r.Lines,
              (std::vector<std::string>{"TX " + kDefaultRequest, "TX " + kDefaultRequest}));
    EXPECT_EQ(r.Err, "mbus read: request 1: no decoded reply within 200 ms\n"
                     "mbus read: request 2: no decoded reply within 200 ms\n");
}

TEST_F(ReadCommandTest, TextAndJsonKeepEveryByte) {
    // The heat meter's type byte 0x20 follows 68, before any zero byte: a blank-removing hex
    // conversion would drop it.
    RunningSim sim({"--meter", "4:00000000000001"});
    const Result text = Read({"--port", sim.ComName, "--type", "4"});
    EXPECT_EQ(text.Status, kExitOk) << text.Err;
    ASSERT_EQ(text.Lines.size(), 3u);
    EXPECT_EQ(text.Lines[0], "TX FE FE 68 20 AA AA AA AA AA AA AA 01 03 1F 90 00 E1 16");
    EXPECT_TRUE(StartsWith(text.Lines[1], "RX FE FE 68 20 01 00 00 00 00 00 00 81 2E 1F 90"))
        << text.Lines[1];
    EXPECT_TRUE(StartsWith(text.Lines[2], "结算日热量:000123.45;当前热量:000234.56;"))
        << text.Lines[2];

    const Result json = Read({"--port", sim.ComName, "--type", "4", "--json"});
    EXPECT_EQ(json.Status, kExitOk) << json.Err;
    ASSERT_EQ(json.Lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        json.Lines[0],
        std::regex(
            R"(\{"tx": "FE FE 68 20 AA AA AA AA AA AA AA 01 03 1F 90 00 E1 16", )"
            R"("rx": \["FE FE 68 20 01 00 00 00 00 00 00 81 2E 1F 90 [0-9A-F ]+ 16"\], )"
            R"("decoded": "结算日热量:000123.45;当前热量:000235.79;[^"]+", )"
            R"("elapsed_ms": \d+, "verdict": "ok", "late": false, )"
            R"("check": \{"complete": true, "start": true, "checksum": true, "end": true\}, )"
            R"("address": "00000000000001", "type": 32, "fields": \[.+\], )"
            R"("status": \{"raw": "0000", "valve": "open", "battery": "normal"\}, )"
            R"("address_match": null, "type_match": true\})")))
        << json.Lines[0];
    for (const char* field : {R"({"label": "结算日热量", "value": "000123.45", "unit": "kWh"})",
                              R"({"label": "热功率", "value": "000012.44", "unit": "kW"})",
                              R"({"label": "流速", "value": "0001.2445", "unit": "m³/h"})",
                              R"({"label": "供水温度", "value": "0065.43", "unit": "°C"})",
                              R"({"label": "累积工作时间", "value": "001235", "unit": "h"})",
                              R"({"label": "状态", "value": "0000", "unit": null})"})
        EXPECT_NE(json.Lines[0].find(field), std::string::npos) << field;
}

TEST_F(ReadCommandTest, CommandOverridesTheRequestAndTheAddressStillDecidesDecoding) {
    RunningSim sim({});
    // Lower case, without blanks: the same bytes as the default request.
    const std::string command = "fefe6810aaaaaaaaaaaaaa01031f9000d116";
    const Result decoded = Read({"--port", sim.ComName, "--command", command});
    EXPECT_EQ(decoded.Status, kExitOk) << decoded.Err;
    ASSERT_EQ(decoded.Lines.size(), 3u);
    EXPECT_EQ(decoded.Lines[0], "TX " + kDefaultRequest);

    const Result sixBytes =
        Read({"--port", sim.ComName, "--command", command, "--addr", "AA AA AA AA AA AA"});
    EXPECT_EQ(sixBytes.Status, kExitIncomplete);
    ASSERT_EQ(sixBytes.Lines.size(), 2u); // shown, not decoded
    EXPECT_TRUE(StartsWith(sixBytes.Lines[1], "RX " + kWaterReplyStart)) << sixBytes.Lines[1];
}

// The reply's address and type against the request's; the wildcard address is not compared. A
// reply that fails its check is shown all the same, said on standard error, and fails the run.
TEST_F(ReadCommandTest, JsonTellsWhetherTheReplyIsFromTheMeterAskedFor) {
    RunningSim sim({"--meter", "0:12345678901234", "--corrupt-checksum"});
    const Result asked = Read({"--port", sim.ComName, "--addr", "12345678901234", "--json"});
    EXPECT_EQ(asked.Status, kExitIncomplete);
    EXPECT_EQ(asked.Err, "mbus read: request 1: checksum wrong\n");
    ASSERT_EQ(asked.Lines.size(), 1u);
    EXPECT_NE(
        asked.Lines[0].find(R"("check": {"complete": true, "start": true, )"
                            R"("checksum": false, "end": true}, "address": "12345678901234")"),
        std::string::npos)
        << asked.Lines[0];
    EXPECT_NE(asked.Lines[0].find(R"("address_match": true, "type_match": true})"),
              std::string::npos)
        << asked.Lines[0];
}

TEST_F(ReadCommandTest, CsvHasAHeaderAndOneRowPerRequest) {
    RunningSim sim({"--meter", "4:00000000000007", "--delay", "0"});
    const Result r = Read({"--port", sim.ComName, "--type", "4", "--addr", "00000000000007",
                           "--count", "2", "--interval", "0", "--csv"});
    EXPECT_EQ(r.Status, kExitOk) << r.Err;
    ASSERT_EQ(r.Lines.size(), 3u);
    EXPECT_EQ(r.Lines[0],
              "时间,串口,表地址,表类型代码,结算日热量,结算日热量单位,当前热量,当前热量单位,"
              "热功率,热功率单位,流速,流速单位,累积流量,累积流量单位,供水温度,"
              "供水温度单位,回水温度,回水温度单位,累积工作时间,累积工作时间单位,实时时间,"
              "状态,阀门,电池,校验和正确,地址相符,耗时ms\r");
    EXPECT_TRUE(std::regex_match(
        r.Lines[1],
        std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},)" + sim.ComName +
                   R"(,00000000000007,0x20,000123\.45,kWh,000234\.56,kWh,000012\.34,kW,)"
                   R"(0001\.2345,m³/h,000567\.89,m³,0065\.43,°C,0045\.21,°C,001234,h,\d{14},)"
                   R"(0000,开,正常,是,是,\d+\r)")))
        << r.Lines[1];
    EXPECT_NE(r.Lines[2].find(",000235.79,kWh,"), std::string::npos) << r.Lines[2];
}

// Rows wait for the first decoded reply, which decides the field columns; a request without a
// decoded reply is a row of its own with "timeout" as its status.
TEST_F(ReadCommandTest, CsvRowsOfRequestsWithoutAReply) {
    RunningSim sim({});
    const Result none = Read({"--port", sim.ComName, "--addr", "00000000000002", "--timeout", "200",
                              "--interval", "0", "--count", "2", "--csv"});
    EXPECT_EQ(none.Status, kExitIncomplete);
    ASSERT_EQ(none.Lines.size(), 3u);
    EXPECT_EQ(none.Lines[0],
              "时间,串口,表地址,表类型代码,状态,阀门,电池,校验和正确,地址相符,耗时ms\r");
    EXPECT_TRUE(std::regex_match(none.Lines[1], std::regex(R"([-0-9T:.]+,COM\d+,00000000000002,)"
                                                           R"(0x10,timeout,,,,,\d+\r)")))
        << none.Lines[1];

    // The wildcard asks for no particular meter: the address match stays empty.
    const Result any = Read({"--port", sim.ComName, "--csv"});
    EXPECT_EQ(any.Status, kExitOk) << any.Err;
    ASSERT_EQ(any.Lines.size(), 2u);
    EXPECT_NE(any.Lines[1].find(",00000000000001,0x10,000012.34,m³,"), std::string::npos)
        << any.Lines[1];
    EXPECT_NE(any.Lines[1].find(",0000,开,正常,是,,"), std::string::npos) << any.Lines[1];
}

TEST_F(ReadCommandTest, AddressOfTheMeterOnTheLine) {
    RunningSim sim({"--meter", "6:12345678901234"});
    const auto address = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "address");
        const MbusRun run = RunMbusHere(args);
        return Result{run.Status, {run.Out}, run.Err};
    };
    const Result text = address({"--port", sim.ComName});
    EXPECT_EQ(text.Status, kExitOk) << text.Err;
    EXPECT_EQ(text.Lines[0], "12345678901234 0x30 燃气表\n");

    const Result json = address({"--port", sim.ComName, "--json", "--di", "0A 81"});
    EXPECT_EQ(json.Status, kExitOk) << json.Err;
    EXPECT_EQ(json.Lines[0], R"({"address": "12345678901234", "type": 48, "check": )"
                             R"({"complete": true, "start": true, "checksum": true, "end": true}})"
                             "\n");
    // A data read in between sees the counters where they were: reading the address is no read.
    const Result read = Read({"--port", sim.ComName, "--addr", "12345678901234", "--type", "6"});
    ASSERT_EQ(read.Lines.size(), 3u) << read.Err;
    EXPECT_TRUE(StartsWith(read.Lines[2], kFirstReading)) << read.Lines[2];

    RunningSim silent({"--silent"});
    const Result none = address({"--port", silent.ComName, "--timeout", "200"});
    EXPECT_EQ(none.Status, kExitIncomplete);
    EXPECT_EQ(none.Lines[0], "");
    EXPECT_EQ(none.Err, "mbus address: no meter answered within 200 ms\n");

    RunningSim corrupt({"--corrupt-checksum"});
    const Result bad = address({"--port", corrupt.ComName});
    EXPECT_EQ(bad.Status, kExitIncomplete);
    EXPECT_EQ(bad.Lines[0], "00000000000001 0x10 冷水水表\n");
    EXPECT_EQ(address({"--json"}).Status, kExitUsage);
}

TEST_F(ReadCommandTest, DevicePathsAreOpenedThroughTheirComNumberOrALinkForTheRun) {
    {
        RunningSim sim({});
        const Result r = Read({"--port", sim.DevicePath});
        EXPECT_EQ(r.Status, kExitOk) << r.Err;
        EXPECT_EQ(ComLinks(Home.PortsDirectory()), std::vector<std::string>{"COM1"});
    }
    const auto sim = SimOutsideTheMap({});
    ASSERT_FALSE(sim->DevicePath.empty());
    ASSERT_TRUE(ComLinks(Home.PortsDirectory()).empty());
    const Result r = Read({"--port", sim->DevicePath});
    EXPECT_EQ(r.Status, kExitOk) << r.Err;
    ASSERT_EQ(r.Lines.size(), 3u);
    EXPECT_TRUE(StartsWith(r.Lines[2], kFirstReading)) << r.Lines[2];
    EXPECT_TRUE(ComLinks(Home.PortsDirectory()).empty());
}

TEST_F(ReadCommandTest, PortsThatCannotBeOpenedAreReportedWithTheComponentsMessage) {
    const Result unmapped = Read({"--port", "COM9"});
    EXPECT_EQ(unmapped.Status, kExitUsage);
    EXPECT_TRUE(unmapped.Lines.empty());
    EXPECT_EQ(unmapped.Err, "mbus read: COM9: ie_BadId - Specified comport doesn't exist\n");

    const std::string missing = (Home.Root() / "no-such-tty").string();
    const Result gone = Read({"--port", missing});
    EXPECT_EQ(gone.Status, kExitUsage);
    EXPECT_EQ(gone.Err, "mbus read: " + missing + ": ie_BadId - Specified comport doesn't exist\n");
    EXPECT_TRUE(ComLinks(Home.PortsDirectory()).empty());

    RunningSim sim({});
    serial::TComPort holder;
    holder.SetComNumber(1);
    holder.SetOpen(true);
    const Result held = Read({"--port", "COM1"});
    EXPECT_EQ(held.Status, kExitUsage);
    EXPECT_EQ(held.Err, "mbus read: COM1: ie_Open - device already open\n");

    // Where the component's message says less than what happened, the real cause follows.
    std::filesystem::create_symlink(Home.Root(), Home.PortsDirectory() / "COM2");
    const Result folder = Read({"--port", "COM2"});
    EXPECT_EQ(folder.Status, kExitUsage);
    EXPECT_EQ(folder.Err, "mbus read: COM2: ie_BadId - Specified comport doesn't exist; COM2 -> " +
                              Home.Root().string() + " is a folder, not a terminal\n");
}

TEST_F(ReadCommandTest, PermissionDeniedSaysForWhichDeviceAndHowToGetAccess) {
    // Root opens any device, so as root the read runs as "nobody"; otherwise the device's
    // permission bits are taken away from its owner.
    RunningSim sim({});
    ASSERT_EQ(sim.ComName, "COM1");
    std::vector<std::string> command{Mbus(), "read", "--port", "COM1"};
    ASSERT_EQ(::chmod(sim.DevicePath.c_str(), 0), 0);
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "setpriv is needed to read as another user";
        command.insert(command.begin(),
                       {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        for (auto folder = Home.PortsDirectory(); folder != Home.Root().parent_path();
             folder = folder.parent_path())
            std::filesystem::permissions(
                folder, std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                std::filesystem::perm_options::add);
    }
    testing::ChildProcess read(command);
    EXPECT_EQ(read.Wait(10s), kExitUsage);
    const std::string errors = read.ReadErrors(10s);
    EXPECT_TRUE(StartsWith(errors, "mbus read: COM1: ie_Open - device already open; permission "
                                   "denied for " +
                                       sim.DevicePath + " (owner "))
        << errors;
    EXPECT_NE(errors.find("---------): only "), std::string::npos) << errors;
}

TEST_F(ReadCommandTest, SendFailuresSayWhatHappenedToTheLine) {
    {
        // The far end goes away while requests go out: the line hangs up.
        RunningSim sim({"--silent"});
        testing::ChildProcess read({Mbus(), "read", "--port", sim.ComName, "--count", "1000",
                                    "--interval", "0", "--timeout", "50"});
        ASSERT_EQ(read.ReadLine(10s), "TX " + kDefaultRequest);
        sim.Stop(SIGKILL);
        EXPECT_EQ(read.Wait(10s), kExitUsage);
        EXPECT_NE(read.ReadErrors(10s).find("mbus read: COM1: Failed to put entire block; the line "
                                            "hung up"),
                  std::string::npos);
    }
    // The far end stops reading: the line fills up.
    RunningSim sim({});
    sim.Process.Signal(SIGSTOP);
    const Result r = Read({"--port", sim.ComName, "--command", std::string(8000, '5'), "--count",
                           "100", "--interval", "0", "--timeout", "1"});
    sim.Process.Signal(SIGCONT);
    EXPECT_EQ(r.Status, kExitUsage);
    EXPECT_NE(r.Err.find("mbus read: COM1: Output buffer too small for block; the line takes no "
                         "more bytes"),
              std::string::npos)
        << r.Err;
}

TEST_F(ReadCommandTest, AnUnreadablePortsFolderIsSaidOnceAndNamedAsTheCause) {
    // A file where the folder should be: root can read every folder, and this cannot be read.
    std::filesystem::remove_all(Home.PortsDirectory());
    std::ofstream(Home.PortsDirectory()).put('x');
    testing::ChildProcess read({Mbus(), "read", "--port", "COM1"});
    EXPECT_EQ(read.Wait(10s), kExitUsage);
    const std::string problem =
        "the ports folder " + Home.PortsDirectory().string() + " cannot be read (not a folder)";
    EXPECT_EQ(read.ReadErrors(10s),
              "mbus: " + problem + ": its COM links are left out and port discovery stays off\n" +
                  "mbus read: COM1: ie_BadId - Specified comport doesn't exist; " + problem + "\n");
}

TEST_F(ReadCommandTest, InterruptedRunStopsAndRemovesItsLink) {
    const auto sim = SimOutsideTheMap({"--silent"});
    for (const int signal : {SIGINT, SIGQUIT}) {
        testing::ChildProcess read({Mbus(), "read", "--port", sim->DevicePath, "--count", "1000",
                                    "--interval", "0", "--timeout", "100"});
        ASSERT_EQ(read.ReadLine(10s), "TX " + kDefaultRequest);
        EXPECT_EQ(ComLinks(Home.PortsDirectory()), std::vector<std::string>{"COM1"});
        read.Signal(signal);
        EXPECT_EQ(read.Wait(10s), kExitIncomplete);
        EXPECT_NE(read.ReadErrors(10s).find("mbus read: interrupted\n"), std::string::npos);
        EXPECT_TRUE(ComLinks(Home.PortsDirectory()).empty());
    }
}

TEST_F(ReadCommandTest, AReaderThatGoesEndsTheRunQuietlyAndItsLinkGoesToo) {
    // `mbus read … | head -1`: the closed pipe stops the run like Ctrl+C.
    const auto sim = SimOutsideTheMap({});
    testing::ChildProcess shell({"/bin/bash", "-c",
                                 "'" + Mbus() + "' read --port " + sim->DevicePath +
                                     " --count 1000 --interval 0 | head -1; "
                                     "echo \"status ${PIPESTATUS[0]}\" >&2"});
    EXPECT_EQ(shell.ReadLine(10s), "TX " + kDefaultRequest);
    EXPECT_EQ(shell.Wait(10s), 0);
    EXPECT_EQ(shell.ReadErrors(10s), "status 3\n");
    EXPECT_TRUE(ComLinks(Home.PortsDirectory()).empty());
}

TEST_F(ReadCommandTest, HelpAndBadOptions) {
    const Result help = Read({"--help"});
    EXPECT_EQ(help.Status, kExitOk);
    std::string text;
    for (const std::string& line : help.Lines)
        text += line + "\n";
    for (const char* option :
         {"--port", "--baud", "--parity", "--addr", "--type", "--di", "--command", "--count",
          "--interval", "--timeout", "--json", "--csv"})
        EXPECT_NE(text.find(option), std::string::npos) << option;

    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--port", "COM0"},
        {"--port", "COM1", "--parity", "odd-ish"},
        {"--port", "COM1", "--baud", "0"},
        {"--port", "COM1", "--count", "0"},
        {"--port", "COM1", "--timeout", "0"},
        {"--port", "COM1", "--interval", "-1"},
        {"--port", "COM1", "--command", "zz"},
        {"--port", "COM1", "--command", "01", "--type", "9"},
        {"--port", "COM1", "--addr", "AA AA"},
        {"--port", "COM1", "--di", "1"},
        {"--port", "COM1", "--loud"},
        {"--port", "COM1", "extra"},
        {"--port", "COM1", "--json", "--csv"},
        {"--port", "COM1", "--meters", "list.csv", "--addr", "00000000000001"},
        {"--port", "COM1", "--meters", "list.csv", "--command", "01"},
        {"--port", "COM1", "--meters", "list.csv", "--type", "0"},
        {"--port", "COM1", "--addr", "00000000000001", "--addr", "00000000000002", "--type", "0",
         "--type", "1", "--type", "2"},
        {"--port", "COM1", "--meters", "/nonexistent/list.csv"},
    };
    for (const auto& args : bad) {
        const Result r = Read(args);
        EXPECT_EQ(r.Status, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_TRUE(r.Lines.empty());
        EXPECT_TRUE(StartsWith(r.Err, "mbus read: ")) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    }
}

// A round over a line of meters: those that answer are read, each result is named by the list's
// address and name, and the summary names the meters that did not answer (not on the line, or
// silent) and the one whose replies fail their check. The simulated meter keeps to the line's
// pace, so replies come a byte at a time.
TEST_F(ReadCommandTest, ARoundReadsEveryMeterOfTheListAndNamesThoseThatFailed) {
    const auto write = [&](const char* name, const std::string& text) {
        const std::filesystem::path path = Home.Root() / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    };
    const std::string onTheLine = write("sim.csv", "00000000000001,0\n"
                                                   "00000000000002,4\n"
                                                   "00000000000004,0\n"
                                                   "00000000000005,0\n"
                                                   "00000000000006,0\n");
    const std::string list = write("line.csv", "\xEF\xBB\xBF# address,type,name\n"
                                               "00000000000001,0,3-201 厨房\n"
                                               "00000000000002,0x20,3-202\n"
                                               "00000000000003,冷水水表\n"
                                               "00000000000004,0,3-204\n"
                                               "00000000000005,0,\"3-205, east\"\n"
                                               "00000000000006,0\n");
    RunningSim sim({"--meters", onTheLine, "--silent-meter", "00000000000004", "--corrupt-meter",
                    "00000000000005", "--baud", "9600", "--delay", "5"},
                   mbus::testing::SimPacing::Paced);
    ASSERT_FALSE(sim.ComName.empty());

    // The interval runs between rounds: within one, each request follows the last at once.
    const Result json = Read({"--port", sim.ComName, "--meters", list, "--timeout", "800",
                              "--interval", "3600000", "--json"});
    EXPECT_EQ(json.Status, kExitIncomplete);
    const std::vector<std::string> expected{
        R"(\{"meter": "00000000000001", "name": "3-201 厨房", .*"decoded": "当前累积流量:.*"verdict": "ok", "late": false, .*"type": 16, )",
        R"(\{"meter": "00000000000002", "name": "3-202", .*"decoded": "结算日热量:.*"verdict": "ok", .*"type": 32, )",
        R"(\{"meter": "00000000000003", "name": null, .*"decoded": null, .*"verdict": "timeout", )",
        R"(\{"meter": "00000000000004", "name": "3-204", .*"decoded": null, .*"verdict": "timeout", )",
        R"(\{"meter": "00000000000005", "name": "3-205, east", .*"verdict": "checksum", )",
        R"(\{"meter": "00000000000006", "name": null, .*"verdict": "ok", .*"address": "00000000000006", )",
    };
    ASSERT_EQ(json.Lines.size(), expected.size()) << json.Err;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(std::regex_search(json.Lines[i], std::regex("^" + expected[i])))
            << json.Lines[i];
    EXPECT_TRUE(std::regex_search(
        json.Err,
        std::regex(
            R"(mbus read: 3/6 answered in \d+\.\d s; no answer: 00000000000003, )"
            R"(00000000000004 \(3-204\); checksum wrong: 00000000000005 \(3-205, east\)\n$)")))
        << json.Err;
    EXPECT_NE(json.Err.find("mbus read: request 3, 00000000000003: no decoded reply within 800 ms"),
              std::string::npos)
        << json.Err;

    // A gap far longer than the time-out: only exchanges that end as soon as their answer is
    // whole can succeed. Two rounds of two meters given by address, a type for each.
    const Result text = Read({"--port", sim.ComName, "--addr", "00000000000001", "--addr",
                              "00000000000002", "--type", "0", "--type", "4", "--count", "2",
                              "--interval", "0", "--gap", "3000", "--timeout", "2000"});
    EXPECT_EQ(text.Status, kExitOk) << text.Err;
    ASSERT_EQ(text.Lines.size(), 12u) << text.Err;
    EXPECT_TRUE(StartsWith(text.Lines[2], "00000000000001 当前累积流量:000012.51;"))
        << text.Lines[2];
    EXPECT_TRUE(StartsWith(text.Lines[5], "00000000000002 结算日热量:")) << text.Lines[5];
    EXPECT_TRUE(StartsWith(text.Lines[8], "00000000000001 当前累积流量:000012.68;"))
        << text.Lines[8];
    EXPECT_TRUE(std::regex_match(text.Err, std::regex(R"(mbus read: 4/4 answered in \d+\.\d s\n)")))
        << text.Err;

    const std::string named = write("named.csv", "00000000000006,0,\"3-206 \"\"west\"\"\"\r\n");
    const Result csv = Read({"--port", sim.ComName, "--meters", named, "--csv"});
    EXPECT_EQ(csv.Status, kExitOk) << csv.Err;
    ASSERT_EQ(csv.Lines.size(), 2u);
    EXPECT_TRUE(StartsWith(csv.Lines[0], "时间,串口,表地址,名称,表类型代码,当前累积流量,"))
        << csv.Lines[0];
    EXPECT_NE(csv.Lines[1].find(",00000000000006,\"3-206 \"\"west\"\"\",0x10,000012."),
              std::string::npos)
        << csv.Lines[1];

    // Every bad line is named with its field, and nothing is read.
    const std::string bad = write("bad.csv", "00000000000001,0\n0000000001,0\n00000000000002,x\n");
    const Result refused = Read({"--port", sim.ComName, "--meters", bad});
    EXPECT_EQ(refused.Status, kExitUsage);
    EXPECT_TRUE(refused.Lines.empty());
    EXPECT_EQ(refused.Err, "mbus read: " + bad +
                               " line 2: address '0000000001' gives 10 hex "
                               "digits, not 14\n"
                               "mbus read: " +
                               bad +
                               " line 3: type 'x' is no type position 0-7, "
                               "type code (0x10) or type name\n");
}

// A round of a read other than the current counters keeps that read's values in its CSV rows, for
// meters of every type.
TEST_F(ReadCommandTest, ARoundOfAnotherReadKeepsItsValuesInTheCsv) {
    RunningSim sim({"--meter", "0:00000000000001", "--meter", "4:00000000000002"});
    const Result csv =
        Read({"--port", sim.ComName, "--addr", "00000000000001", "--addr", "00000000000002",
              "--type", "0", "--type", "4", "--di", "D1 21", "--csv"});
    EXPECT_EQ(csv.Status, kExitOk) << csv.Err;
    ASSERT_EQ(csv.Lines.size(), 3u) << csv.Err;
    EXPECT_TRUE(StartsWith(csv.Lines[0], "时间,串口,表地址,名称,表类型代码,上2月结算日累积量,"
                                         "上2月结算日累积量单位,状态,"))
        << csv.Lines[0];
    EXPECT_NE(csv.Lines[1].find(",00000000000001,,0x10,000009.25,m³,"), std::string::npos)
        << csv.Lines[1];
    EXPECT_TRUE(
        std::regex_search(csv.Lines[2], std::regex(",00000000000002,,0x20,\\d{6}\\.\\d\\d,kWh,")))
        << csv.Lines[2];
}

} // namespace
} // namespace mbus::tools
