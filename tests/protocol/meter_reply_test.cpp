// Replies built for the simulated meter decode as the console decodes them, byte for byte in
// the known layouts; requests are found in received bytes.
#include "protocol/meter_reply.h"
#include "protocol/request.h"
#include "protocol/read_frame.h"
#include "protocol/response_decoder.h"
#include "util/string_c.h"

#include <gtest/gtest.h>

namespace mbus::protocol {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    return util::BytesToHex(bytes);
}

const MeterClock kClock{2024, 1, 2, 3, 4, 5};
const LineAddress kWildcard{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};

// The reply header of a meter of `typeCode` answering at the wildcard address.
ReplyHeader WildcardHeader(std::uint8_t typeCode) {
    ReplyHeader header;
    header.TypeCode = typeCode;
    header.Address = kWildcard;
    return header;
}

TEST(MeterReplyTest, WaterReplyIsTheKnownLayout) {
    const WaterReading reading{.CurrentFlow = 1234, .SettlementFlow = 1000, .Clock = kClock};
    const auto reply = BuildWaterReply(WildcardHeader(0x10), reading);
    EXPECT_EQ(Hex(reply), "FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 10 "
                          "00 00 2C 05 04 03 02 01 24 20 00 00 65 16 ");
    EXPECT_EQ(DecodeMeterData(reply),
              "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:20240102030405;状态:0000;");
}

TEST(MeterReplyTest, HeatReplyIsTheKnownLayout) {
    const HeatReading reading{.SettlementHeat = 12345,
                              .CurrentHeat = 23456,
                              .HeatPower = 1234,
                              .FlowRate = 12345,
                              .CumulativeFlow = 56789,
                              .SupplyTemperature = 6543,
                              .ReturnTemperature = 4521,
                              .WorkingHours = 1234,
                              .Clock = kClock};
    const auto reply = BuildHeatReply(WildcardHeader(0x20), reading);
    EXPECT_EQ(Hex(reply),
              "FE FE 68 20 AA AA AA AA AA AA AA 81 2E 1F 90 00 45 23 01 00 05 56 34 02 00 05 34 "
              "12 00 00 17 45 23 01 00 35 89 67 05 00 2C 43 65 00 21 45 00 34 12 00 05 04 03 02 "
              "01 24 20 00 00 4E 16 ");
    const DecodedReply decoded = DecodeReply(reply);
    EXPECT_EQ(decoded.Layout, ReplyLayout::Heat);
    EXPECT_EQ(decoded.Text, "结算日热量:000123.45;当前热量:000234.56;热功率:000012.34;流速:0001."
                            "2345;累积流量:000567.89;供水温度:0065.43;回水温度:0045.21;累积工作时"
                            "间:001234;实时时间:20240102030405;状态:0000;");
}

TEST(MeterReplyTest, HeaderFieldsAndStatusGoOnTheLineAsGiven) {
    ReplyHeader header;
    header.TypeCode = 0x30;
    header.Address = {0x34, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12};
    header.DataId = {0x90, 0x1F};
    header.Sequence = 0x5A;
    header.Preamble = 0;
    WaterReading reading;
    reading.CurrentFlow = 123456789; // rolls over past 999999.99
    reading.Status = {0x12, 0x34};
    const auto reply = BuildWaterReply(header, reading);
    ASSERT_EQ(reply.size(), 35u);
    EXPECT_EQ(reply[0], 0x68);
    EXPECT_EQ(reply[11], 0x90);
    EXPECT_EQ(reply[12], 0x1F);
    EXPECT_EQ(reply[13], 0x5A);
    EXPECT_EQ(reply.back(), 0x16);
    EXPECT_EQ(reply[reply.size() - 2],
              util::SumBytes(std::span<const std::uint8_t>(reply).first(reply.size() - 2)));
    EXPECT_EQ(DecodeMeterData(reply),
              "当前累积流量:234567.89;结算日累积流量:000000.00;实时时间:20000101000000;状态:1234;");
}

TEST(MeterReplyTest, BcdPutsTheLowestDigitsFirst) {
    std::uint8_t bytes[3];
    PutBcd(123456, bytes);
    EXPECT_EQ(bytes[0], 0x56);
    EXPECT_EQ(bytes[1], 0x34);
    EXPECT_EQ(bytes[2], 0x12);
    PutBcd(7, bytes);
    EXPECT_EQ(bytes[0], 0x07);
    EXPECT_EQ(bytes[2], 0x00);
}

TEST(MeterReplyTest, FindsTheConsoleRequestAmongOtherBytes) {
    ReadFrameBuffer frame{};
    const std::uint8_t address[7] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34};
    const std::uint8_t id[2] = {0x90, 0x1F};
    BuildReadFrame(frame, std::span<const std::uint8_t, 7>(address), 0x30, kControlRead,
                   std::span<const std::uint8_t, 2>(id));
    std::vector<std::uint8_t> bytes{0x68, 0x00, 0x55}; // a false start, then the request
    bytes.insert(bytes.end(), frame.begin(), frame.end());

    const RequestScan scan = ScanReadRequest(bytes);
    ASSERT_TRUE(scan.Request);
    EXPECT_EQ(scan.Consumed, bytes.size());
    EXPECT_EQ(scan.Request->TypeCode, 0x30);
    EXPECT_EQ(scan.Request->Address, (LineAddress{0x34, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(scan.Request->DataId, (DataIdentifier{0x90, 0x1F}));
    EXPECT_EQ(scan.Request->Sequence, 0);

    // Cut short: nothing yet, and the start is kept for the bytes to come.
    const auto cut = std::span<const std::uint8_t>(bytes).first(bytes.size() - 1);
    const RequestScan partial = ScanReadRequest(cut);
    EXPECT_FALSE(partial.Request);
    EXPECT_EQ(partial.Consumed, 5u); // up to the request's 0x68 (after the two 0xFE)

    // A wrong checksum, end byte or control code is no request.
    for (std::size_t offset : {16u, 17u, 11u}) {
        std::vector<std::uint8_t> bad(frame.begin(), frame.end());
        bad[offset] ^= 0x01;
        const RequestScan none = ScanReadRequest(bad);
        EXPECT_FALSE(none.Request) << offset;
        EXPECT_EQ(none.Consumed, bad.size());
    }
}

} // namespace
} // namespace mbus::protocol
