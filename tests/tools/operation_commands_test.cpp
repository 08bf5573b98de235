// The operation subcommands (`valve`, `set-time`, `set-address`, `set-day`, `key-version`) and
// `mbus read --di` against the simulated meter: `mbus sim` runs as a program on its
// pseudo-terminal, the commands run in this process through RunMbus. The meter's state changes
// show in the reads that follow; refusals, a meter that does not answer and bad arguments end
// with their own status. Every case works in a temporary XDG_CONFIG_HOME without port discovery.
#include "mbus_run.h"

#include "support/running_sim.h"
#include "support/temp_config_home.h"
#include "tools/command_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace mbus::tools {
namespace {

using mbus::testing::RunningSim;
using mbus::testing::TempConfigHome;

// `mbus <args...> --port <com>`.
MbusRun On(const RunningSim& sim, std::vector<std::string> args) {
    args.insert(args.end(), {"--port", sim.ComName});
    return RunMbusHere(args);
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class OperationCommandsTest : public ::testing::Test {
protected:
    TempConfigHome Home;
};

TEST_F(OperationCommandsTest, TheMetersStateChangesShowInTheReadsThatFollow) {
    RunningSim sim({});

    // Close the valve: accepted, and the next read's status says closed.
    const MbusRun close = On(sim, {"valve", "close"});
    EXPECT_EQ(close.Status, kExitOk) << close.Err;
    EXPECT_EQ(close.OutLines(),
              (std::vector<std::string>{
                  "TX FE FE 68 10 AA AA AA AA AA AA AA 04 04 A0 17 00 99 76 16",
                  "RX FE FE 68 10 01 00 00 00 00 00 00 84 05 A0 17 00 01 00 BA 16",
                  "accepted: close the valve; status 0100 (valve closed, battery normal)"}));
    const MbusRun closed = On(sim, {"read", "--json"});
    EXPECT_EQ(closed.Status, kExitOk) << closed.Err;
    EXPECT_TRUE(Has(closed.Out, R"("status": {"raw": "0100", "valve": "closed")")) << closed.Out;

    // Set the clock: the next read's clock is the one set (plus the moments in between).
    EXPECT_EQ(On(sim, {"set-time", "--time", "20240102030405"}).Status, kExitOk);
    const MbusRun timed = On(sim, {"read"});
    EXPECT_TRUE(std::regex_search(timed.Out, std::regex("实时时间:2024010203(04|05)\\d\\d;")))
        << timed.Out;

    // Set a day; read it back.
    EXPECT_EQ(On(sim, {"set-day", "settlement", "15"}).Status, kExitOk);
    EXPECT_EQ(On(sim, {"read", "--di", "81 03"}).OutLines().back(), "结算日:15日;");

    // Give a new address: the meter answers there, and no more at the old one.
    const MbusRun moved =
        On(sim, {"set-address", "12345678901234", "--addr", "00000000000001", "--json"});
    EXPECT_EQ(moved.Status, kExitOk) << moved.Err;
    EXPECT_TRUE(Has(moved.Out, R"("kind": "reply", "address": "12345678901234")")) << moved.Out;
    EXPECT_EQ(On(sim, {"read", "--addr", "00000000000001", "--timeout", "300"}).Status,
              kExitIncomplete);
    EXPECT_EQ(On(sim, {"read", "--addr", "12345678901234"}).Status, kExitOk);
    EXPECT_EQ(On(sim, {"address"}).Out, "12345678901234 0x10 冷水水表\n");

    // The simulator says what changed.
    EXPECT_EQ(sim.Stop(), 0);
    const std::string told = sim.Process.ReadErrors(std::chrono::seconds(10));
    for (const char* change :
         {"mbus sim: meter 00000000000001: valve closed\n",
          "mbus sim: meter 00000000000001: clock set to 2024-01-02 03:04:05\n",
          "mbus sim: meter 12345678901234: address changed from 00000000000001\n"})
        EXPECT_TRUE(Has(told, change)) << told;
}

TEST_F(OperationCommandsTest, RefusalsOtherIdentifierOrdersAndSilence) {
    RunningSim refusing({"--refuse-writes", "--swap-di"});
    const MbusRun refused = On(refusing, {"valve", "open", "--json"});
    EXPECT_EQ(refused.Status, kExitIncomplete);
    EXPECT_TRUE(Has(refused.Out, R"("kind": "refused")")) << refused.Out;
    EXPECT_TRUE(Has(refused.Out, R"("error_status": "0400"})")) << refused.Out;
    EXPECT_EQ(refused.Err, "mbus valve: the meter refused the request\n");
    // An identifier the meter does not know is refused, not left unanswered.
    const MbusRun unknown = On(refusing, {"read", "--di", "81 07"});
    EXPECT_EQ(unknown.Status, kExitIncomplete);
    EXPECT_EQ(unknown.Err, "mbus read: request 1: the meter refused the request (status 01 00)\n");
    // Replies with the identifier the other way round are understood.
    EXPECT_EQ(On(refusing, {"read", "--di", "D1 2B"}).OutLines().back(),
              "上12月结算日累积量:000001.75m³;");
    const MbusRun key = On(refusing, {"key-version", "--di-order", "low"});
    EXPECT_EQ(key.Status, kExitOk) << key.Err;
    EXPECT_EQ(key.OutLines().front(), "TX FE FE 68 10 AA AA AA AA AA AA AA 09 03 06 81 00 B1 16");
    EXPECT_EQ(key.OutLines().back(), "密钥版本:01;");

    RunningSim silent({"--silent"});
    const MbusRun none = On(silent, {"set-day", "reading", "5", "--timeout", "200", "--json"});
    EXPECT_EQ(none.Status, kExitIncomplete);
    EXPECT_TRUE(Has(none.Out, R"("rx": [], "kind": "timeout")")) << none.Out;
    EXPECT_EQ(none.Err, "mbus set-day: no answer within 200 ms\n");
}

// `mbus read --json` gives a refusal's status bytes as the operations do.
TEST_F(OperationCommandsTest, ARefusedReadGivesItsStatusBytesInJson) {
    RunningSim sim({});
    const MbusRun unknown = On(sim, {"read", "--di", "81 07", "--json"});
    EXPECT_EQ(unknown.Status, kExitIncomplete);
    EXPECT_TRUE(
        Has(unknown.Out, R"("verdict": "refused", "late": false, "error_status": "0100", )"))
        << unknown.Out;
}

TEST_F(OperationCommandsTest, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"valve", "--port", "COM1"},
        {"valve", "ajar", "--port", "COM1"},
        {"valve", "open", "--port", "COM1", "--di-order", "middle"},
        {"set-time", "--port", "COM1", "--time", "20241301000000"},
        {"set-time", "--port", "COM1", "--time", "yesterday"},
        {"set-address", "--port", "COM1"},
        {"set-address", "AA AA AA AA AA AA AA", "--port", "COM1"},
        {"set-address", "1234", "--port", "COM1"},
        {"set-day", "settlement", "0", "--port", "COM1"},
        {"set-day", "monthly", "5", "--port", "COM1"},
        {"key-version", "now", "--port", "COM1"},
        {"key-version"},
    };
    for (const auto& args : bad) {
        const MbusRun r = RunMbusHere(args);
        EXPECT_EQ(r.Status, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(r.Err.rfind("mbus " + args[0] + ": ", 0), 0u) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    }
}

} // namespace
} // namespace mbus::tools
