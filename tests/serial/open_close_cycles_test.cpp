// Many open, transfer and close cycles of the port component against a simulated meter on a
// pseudo-terminal: every cycle gets the meter's reply, and nothing races, leaks or hangs (the
// suite also runs under the sanitizers).
#include "platform/port_map.h"
#include "protocol/response_decoder.h"
#include "serial/com_port.h"
#include "sim/meter_line.h"
#include "support/pty_pair.h"
#include "support/temp_config_home.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

namespace mbus::serial {
namespace {

using namespace std::string_literals;

using mbus::testing::PumpUntil;

TEST(OpenCloseCycles, EveryCycleGetsTheReplyAndEndsClean) {
    mbus::testing::TempConfigHome home;
    mbus::testing::PtyPair line(platform::PseudoTerminal::SlaveHold::Held);
    std::string error;
    ASSERT_TRUE(platform::AddPortLink(5, line.SlavePath(), error)) << error;
    sim::MeterLineThread meter(line, {.Meters = {sim::kDefaultMeter}});

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
