// The simulated meter's answers: who answers which request, how the reply goes on the line
// under each option, and readings that advance between reads.
#include "protocol/read_frame.h"
#include "protocol/response_decoder.h"
#include "sim/meter_simulator.h"
#include "util/string_c.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace mbus::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The console's request for a typed address, type code and identifier.
Bytes Request(std::array<std::uint8_t, 7> typed, std::uint8_t type,
              std::array<std::uint8_t, 2> id = {0x1F, 0x90}) {
    protocol::ReadFrameBuffer frame{};
    protocol::BuildReadFrame(frame, typed, type, protocol::kControlRead, id);
    return {frame.begin(), frame.end()};
}

const std::array<std::uint8_t, 7> kAnyAddress{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
const std::array<std::uint8_t, 7> kMeterOne{0, 0, 0, 0, 0, 0, 0x01};

// A meter of the type list position `type` with an address as typed, most significant byte first.
SimulatedMeterSpec Spec(int type, std::array<std::uint8_t, 7> typed) {
    SimulatedMeterSpec spec{type, {}};
    std::reverse_copy(typed.begin(), typed.end(), spec.Address.begin());
    return spec;
}

MeterSimulator Simulator(SimulatorOptions options) {
    if (options.Meters.empty())
        options.Meters.push_back(kDefaultMeter);
    return MeterSimulator(std::move(options),
                          [] { return protocol::MeterClock{2024, 5, 6, 7, 8, 9}; });
}

Bytes Joined(const std::vector<Burst>& bursts) {
    Bytes all;
    for (const Burst& burst : bursts)
        all.insert(all.end(), burst.Bytes.begin(), burst.Bytes.end());
    return all;
}

TEST(MeterSimulatorTest, AnswersItsAddressAndTheWildcardWithADecodableReply) {
    MeterSimulator sim = Simulator({});
    for (const auto& address : {kMeterOne, kAnyAddress}) {
        const auto bursts = sim.Receive(Request(address, 0x10));
        ASSERT_EQ(bursts.size(), 1u);
        EXPECT_EQ(bursts[0].AfterMs, 0u);
        const Bytes& reply = bursts[0].Bytes;
        EXPECT_EQ(reply[0], 0xFE);
        EXPECT_EQ(reply[2], 0x68);
        EXPECT_EQ(reply[3], 0x10);
        EXPECT_EQ(reply[4], 0x01); // its own address, least significant byte first
        EXPECT_EQ(reply[11], 0x81);
        EXPECT_EQ(reply[12], 0x16);
        const auto decoded = protocol::DecodeReply(reply);
        EXPECT_EQ(decoded.Layout, protocol::ReplyLayout::Water);
        EXPECT_NE(decoded.Text.find("实时时间:20240506070809;"), std::string::npos);
    }
    EXPECT_TRUE(sim.Receive(Request({0, 0, 0, 0, 0, 0, 0x02}, 0x10)).empty()); // another meter
    EXPECT_TRUE(sim.Receive(Request(kMeterOne, 0x30)).empty());                // another type
    // An item it does not know is refused: the error bit on the control code, status 01 00.
    EXPECT_EQ(util::BytesToHex(Joined(sim.Receive(Request(kMeterOne, 0x10, {0x90, 0x10})))),
              "FE FE 68 10 01 00 00 00 00 00 00 C1 03 00 01 00 3E 16 ");
}

TEST(MeterSimulatorTest, IdentifierAndSequenceAreAnsweredAsAsked) {
    MeterSimulator sim = Simulator({});
    Bytes request = Request(kMeterOne, 0xAA, {0x90, 0x1F}); // any type
    request[15] = 0x07;
    request[16] = static_cast<std::uint8_t>(request[16] + 0x07);
    const Bytes reply = Joined(sim.Receive(request));
    ASSERT_GT(reply.size(), 16u);
    EXPECT_EQ(reply[13], 0x90);
    EXPECT_EQ(reply[14], 0x1F);
    EXPECT_EQ(reply[15], 0x07);
}

TEST(MeterSimulatorTest, HeatMetersAnswerTheHeatLayoutAndTheFirstMeterTakesTheWildcard) {
    SimulatorOptions options;
    options.Meters = {Spec(6, {0, 0, 0, 0, 0, 0, 0x09}),
                      Spec(4, {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34}),
                      Spec(5, {0, 0, 0, 0, 0, 0, 0x02})};
    MeterSimulator sim = Simulator(options);
    const Bytes heat = Joined(sim.Receive(Request(kAnyAddress, 0x20)));
    EXPECT_EQ(protocol::DecodeReply(heat).Layout, protocol::ReplyLayout::Heat);
    EXPECT_EQ(heat[4], 0x34);
    const Bytes any = Joined(sim.Receive(Request(kAnyAddress, 0xAA)));
    EXPECT_EQ(any[3], 0x30); // the first meter on the line
    EXPECT_EQ(protocol::DecodeReply(any).Layout, protocol::ReplyLayout::Water);
}

TEST(MeterSimulatorTest, ReadingsAdvanceBetweenReads) {
    MeterSimulator sim = Simulator({});
    const std::string first =
        protocol::DecodeMeterData(Joined(sim.Receive(Request(kMeterOne, 0x10))));
    const std::string second =
        protocol::DecodeMeterData(Joined(sim.Receive(Request(kMeterOne, 0x10))));
    EXPECT_EQ(first.rfind("当前累积流量:000012.34;", 0), 0u) << first;
    EXPECT_EQ(second.rfind("当前累积流量:000012.51;", 0), 0u) << second;
}

TEST(MeterSimulatorTest, RequestsMayArriveInPiecesAndOneAtATimeIsAnswered) {
    MeterSimulator sim = Simulator({});
    const Bytes request = Request(kMeterOne, 0x10);
    Bytes noisy{0x00, 0x68, 0x13};
    noisy.insert(noisy.end(), request.begin(), request.begin() + 7);
    EXPECT_TRUE(sim.Receive(noisy).empty());
    EXPECT_EQ(sim.Receive(Bytes(request.begin() + 7, request.end())).size(), 1u);
    // The second of two at once came while the meter was answering the first: it is lost.
    Bytes two = request;
    two.insert(two.end(), request.begin(), request.end());
    EXPECT_EQ(sim.Receive(two).size(), 1u);
    EXPECT_EQ(sim.Receive(request).size(), 1u);
    // A request that no meter answers leaves the line free for the next one.
    Bytes otherFirst = Request({0, 0, 0, 0, 0, 0, 0x02}, 0x10);
    otherFirst.insert(otherFirst.end(), request.begin(), request.end());
    EXPECT_EQ(sim.Receive(otherFirst).size(), 1u);
}

TEST(MeterSimulatorTest, LineOptionsShapeTheReply) {
    SimulatorOptions options;
    options.Preamble = 4;
    options.DelayMs = 30;
    options.Bursts = 3;
    options.BurstGapMs = 20;
    options.Echo = true;
    MeterSimulator sim = Simulator(options);
    const Bytes request = Request(kMeterOne, 0x10);
    const auto bursts = sim.Receive(request);
    ASSERT_EQ(bursts.size(), 4u);
    EXPECT_EQ(bursts[0].AfterMs, 0u);
    EXPECT_EQ(bursts[0].Bytes, request); // the echo, at once
    EXPECT_EQ(bursts[1].AfterMs, 30u);
    EXPECT_EQ(bursts[2].AfterMs, 50u);
    EXPECT_EQ(bursts[3].AfterMs, 70u);
    const Bytes all = Joined(bursts);
    const Bytes reply(all.begin() + static_cast<std::ptrdiff_t>(request.size()), all.end());
    EXPECT_EQ(reply.size(), 4u + 16u + 19u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 5), (Bytes{0xFE, 0xFE, 0xFE, 0xFE, 0x68}));
    EXPECT_EQ(protocol::DecodeReply(reply).Layout, protocol::ReplyLayout::Water);
}

TEST(MeterSimulatorTest, FaultOptions) {
    SimulatorOptions silent;
    silent.Silent = true;
    MeterSimulator quiet = Simulator(silent);
    EXPECT_TRUE(quiet.Receive(Request(kMeterOne, 0x10)).empty());

    SimulatorOptions corrupt;
    corrupt.CorruptChecksum = true;
    MeterSimulator wrong = Simulator(corrupt);
    const Bytes bad = Joined(wrong.Receive(Request(kMeterOne, 0x10)));
    const auto frame = std::span<const std::uint8_t>(bad).subspan(2);
    EXPECT_NE(frame[frame.size() - 2], util::SumBytes(frame.first(frame.size() - 2)));
    EXPECT_EQ(protocol::DecodeReply(bad).Layout, protocol::ReplyLayout::Water); // lenient decoder

    SimulatorOptions noise;
    noise.Noise = true;
    MeterSimulator noisy = Simulator(noise);
    for (int i = 0; i < 20; ++i) {
        const Bytes reply = Joined(noisy.Receive(Request(kMeterOne, 0x10)));
        ASSERT_GE(reply.size(), 2u + 16u + 19u + 1u);
        ASSERT_LE(reply.size(), 2u + 16u + 19u + 4u);
        EXPECT_EQ(protocol::DecodeReply(reply).Layout, protocol::ReplyLayout::Water);
    }
}

} // namespace
} // namespace mbus::sim
