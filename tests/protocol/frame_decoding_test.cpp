// The rule that decides whether a complete frame is decoded: the address text must give exactly
// seven bytes, and only the frame's first 1025 bytes are looked at.
#include "protocol/parsed_reply.h"
#include "support/bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace mbus::protocol {
namespace {

using Bytes = testing::ByteVector;
using testing::BytesFromHex;

const Bytes kWaterReply =
    BytesFromHex("FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 "
                 "10 00 00 2C 05 04 03 02 01 24 20 00 00 65 16");
const std::string kWaterText =
    "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:20240102030405;状态:0000;";

// The decoded line of a frame on the receive road, or the empty text.
std::string DecodeReceivedFrame(std::string_view addressText, const Bytes& frame) {
    const auto reply = ParseReceivedFrame(addressText, frame);
    return reply && reply->Decoded() ? reply->Line : std::string();
}

TEST(DecodeReceivedFrame, OnlyWhileTheAddressGivesSevenBytes) {
    // Any seven bytes will do: the address is never compared with the reply's.
    for (const std::string address :
         {"AA AA AA AA AA AA AA", "12345678901234", "12-34-56-78-90-12-34", "1234567890123 45"}) {
        EXPECT_EQ(DecodeReceivedFrame(address, kWaterReply), kWaterText) << address;
    }
    for (const std::string address :
         {"", "AA AA AA AA AA AA", "AA AA AA AA AA AA AA AA",
          "AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA", "冷水水表"}) {
        EXPECT_EQ(DecodeReceivedFrame(address, kWaterReply), "") << address;
    }
}

TEST(DecodeReceivedFrame, LongFramesAreDecodedFromTheirFirst1025Bytes) {
    // Each chunk is an exactly sized heap copy, so a read past its end is a sanitizer error.
    const auto decode = [](std::size_t before, std::size_t after) {
        Bytes frame(before, 0x00);
        frame.insert(frame.end(), kWaterReply.begin(), kWaterReply.end());
        frame.resize(frame.size() + after, 0x00);
        return DecodeReceivedFrame("AA AA AA AA AA AA AA", frame);
    };
    EXPECT_EQ(decode(0, 2000), kWaterText);
    // The reply's fields end two bytes before its end: its checksum and end byte may fall
    // outside the work buffer, its last status byte may not.
    EXPECT_EQ(decode(kAnalyseBufferSize - kWaterReply.size() + 2, 0), kWaterText);
    EXPECT_EQ(decode(kAnalyseBufferSize - kWaterReply.size() + 3, 0), "");
    EXPECT_EQ(decode(2 * kAnalyseBufferSize, 0), "");
}

} // namespace
} // namespace mbus::protocol
