// Many open, transfer and close cycles of the port component against a simulated meter on a
// pseudo-terminal: every cycle gets the meter's reply, and nothing races, leaks or hangs (the
// suite also runs under the sanitizers).
#include "platform/port_map.h"
#include "protocol/response_decoder.h"
#include "serial/com_port.h"
#include "support/temp_config_home.h"
#include "support/wait_until.h"
#include "tools/meter_line.h"
#include "tools/pseudo_terminal.h"

#include <gtest/gtest.h>

namespace mbus::serial {
namespace {

using namespace std::string_literals;

using mbus::testing::PumpUntil;

// The default cold-water meter, address 00000000000001.
tools::SimulatorOptions DefaultMeter() {
    tools::SimulatorOptions options;
    options.Meters.push_back({0, {0x01, 0, 0, 0, 0, 0, 0}});
    return options;
}

TEST(OpenCloseCycles, EveryCycleGetsTheReplyAndEndsClean) {
    mbus::testing::TempConfigHome home;
    tools::PseudoTerminal line;
    std::string error;
    ASSERT_TRUE(line.Open(error)) << error;
    ASSERT_TRUE(platform::AddPortLink(5, line.DevicePath(), error)) << error;
    tools::MeterLineThread meter(line.MasterFd(), DefaultMeter());

    const std::string request =
        "\xFE\xFE\x68\x10\xAA\xAA\xAA\xAA\xAA\xAA\xAA\x01\x03\x1F\x90\x00\xD1\x16"s;
    TComPort port;
    port.SetComNumber(5);
    port.SetBaud(2400);
    port.SetParity(pEven);
    std::string received;
    port.SetOnTriggerAvail([&](TComponent*, std::uint16_t count) {
        for (int i = 0; i < count; ++i)
            received.push_back(port.ReadChar());
    });

    constexpr int kCycles = 200;
    int decoded = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        received.clear();
        port.SetOpen(true);
        port.SendString(request);
        const bool replied = PumpUntil([&] {
            return !protocol::DecodeMeterData(
                        {reinterpret_cast<const std::uint8_t*>(received.data()), received.size()})
                        .empty();
        });
        if (!replied)
            ADD_FAILURE() << "cycle " << cycle << " got " << received.size() << " bytes";
        decoded += replied ? 1 : 0;
        port.SetOpen(false);
        ASSERT_FALSE(port.Open());
        if (!replied)
            break;
    }
    EXPECT_EQ(decoded, kCycles);
}

} // namespace
} // namespace mbus::serial
