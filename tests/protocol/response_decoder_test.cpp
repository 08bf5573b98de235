// The reply decoder: the two layouts, what it checks and what it ignores, which occurrence of the
// identifier it examines, and chunks cut short.
#include "protocol/response_decoder.h"
#include "support/bytes.h"

#include "util/string_c.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mbus::protocol {
namespace {

using Bytes = testing::ByteVector;
using testing::BytesFromHex;

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

const Bytes kWaterReply =
    BytesFromHex("FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 "
                 "10 00 00 2C 05 04 03 02 01 24 20 00 00 65 16");
const std::string kWaterText =
    "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:20240102030405;状态:0000;";

const Bytes kHeatReply = BytesFromHex(
    "FE FE 68 20 AA AA AA AA AA AA AA 81 2E 1F 90 00 45 23 01 00 05 56 34 02 00 05 34 12 "
    "00 00 17 45 23 01 00 35 89 67 05 00 2C 43 65 00 21 45 00 34 12 00 05 04 03 02 01 24 "
    "20 00 00 4E 16");
const std::string kHeatText =
    "结算日热量:000123.45;当前热量:000234.56;热功率:000012.34;流速:0001.2345;累积流量:000567.89;"
    "供水温度:0065.43;回水温度:0045.21;累积工作时间:001234;实时时间:20240102030405;状态:0000;";

// Offsets inside the two example replies.
constexpr std::size_t kTypeOffset = 3;
constexpr std::size_t kControlOffset = 11;
constexpr std::size_t kLengthOffset = 12;
constexpr std::size_t kIdOffset = 13;
constexpr std::size_t kSequenceOffset = 15;
constexpr std::size_t kDataOffset = 16;

// Decodes from an exactly sized heap copy, so a read past the end is an address sanitizer error.
DecodedReply Decode(const Bytes& chunk) {
    const Bytes copy(chunk);
    DecodedReply reply = DecodeReply(copy);
    EXPECT_EQ(DecodeMeterData(copy), reply.Text);
    EXPECT_EQ(reply.Layout == ReplyLayout::None, reply.Text.empty());
    if (!reply.Text.empty()) {
        EXPECT_EQ(reply.Text.back(), ';');
        EXPECT_EQ(reply.Text.find(' '), std::string::npos);
    }
    return reply;
}

TEST(DecodeReply, ExampleReplies) {
    const DecodedReply water = Decode(kWaterReply);
    EXPECT_EQ(water.Layout, ReplyLayout::Water);
    EXPECT_EQ(water.Text, kWaterText);

    const DecodedReply heat = Decode(kHeatReply);
    EXPECT_EQ(heat.Layout, ReplyLayout::Heat);
    EXPECT_EQ(heat.Text, kHeatText);
}

TEST(DecodeReply, OnlyControlCodeAndLengthAreChecked) {
    // Start byte, meter type, address, sequence number, checksum, end byte and wake-up bytes
    // may be anything. The values avoid 0x90 and 0x1F so no new identifier appears.
    struct Reply {
        const Bytes* Chunk;
        const std::string* Text;
    };
    for (const Reply reply : {Reply{&kWaterReply, &kWaterText}, Reply{&kHeatReply, &kHeatText}}) {
        const Bytes& chunk = *reply.Chunk;
        std::vector<std::size_t> offsets = {
            0, 1, 2, kTypeOffset, kSequenceOffset, chunk.size() - 2, chunk.size() - 1};
        for (std::size_t i = 4; i < kControlOffset; ++i)
            offsets.push_back(i);
        for (const std::size_t offset : offsets) {
            for (const std::uint8_t value : {0x00, 0x11, 0x40, 0x68, 0x81, 0xFF}) {
                Bytes changed = chunk;
                changed[offset] = value;
                EXPECT_EQ(Decode(changed).Text, *reply.Text) << "offset " << offset;
            }
        }
    }
}

TEST(DecodeReply, ControlCodeMustBe81AndLengthMustBe16Or2E) {
    for (int control = 0; control < 256; ++control) {
        Bytes changed = kWaterReply;
        changed[kControlOffset] = static_cast<std::uint8_t>(control);
        EXPECT_EQ(Decode(changed).Text, control == 0x81 ? kWaterText : "") << control;
    }
    for (int length = 0; length < 256; ++length) {
        // The heat reply is long enough for both layouts.
        Bytes changed = kHeatReply;
        changed[kLengthOffset] = static_cast<std::uint8_t>(length);
        const DecodedReply reply = Decode(changed);
        if (length == 0x2E) {
            EXPECT_EQ(reply.Layout, ReplyLayout::Heat);
        } else if (length == 0x16) {
            // The length alone picks the layout: the heat data read with the water table.
            EXPECT_EQ(reply.Layout, ReplyLayout::Water);
            EXPECT_EQ(reply.Text, "当前累积流量:000123.45;结算日累积流量:000234.56;"
                                  "实时时间:23451700001234;状态:0100;");
        } else {
            EXPECT_EQ(reply.Layout, ReplyLayout::None) << length;
        }
    }
}

TEST(DecodeReply, FieldsAreShownMostSignificantFirstButStatusAsReceived) {
    Bytes reply = kWaterReply;
    // Status bytes 12 34 on the line.
    reply[kDataOffset + 17] = 0x12;
    reply[kDataOffset + 18] = 0x34;
    // A byte that is not BCD shows as its hex digits.
    reply[kDataOffset + 0] = 0xAB;
    // Unit bytes are not shown.
    reply[kDataOffset + 4] = 0x99;
    EXPECT_EQ(Decode(reply).Text, "当前累积流量:000012.AB;结算日累积流量:000010.00;"
                                  "实时时间:20240102030405;状态:1234;");
}

TEST(DecodeReply, EitherIdentifierOrderIsRecognised) {
    Bytes swapped = kWaterReply;
    swapped[kIdOffset] = 0x90;
    swapped[kIdOffset + 1] = 0x1F;
    EXPECT_EQ(Decode(swapped).Text, kWaterText);
}

TEST(DecodeReply, PatternTooCloseToTheStartGivesNothing) {
    // The bytes from the control code on, with the identifier at position 2: decodes.
    const Bytes fromControl(kWaterReply.begin() + kControlOffset, kWaterReply.end());
    EXPECT_EQ(Decode(fromControl).Text, kWaterText);
    // Identifier at positions 1 and 0: no room for control code and length.
    EXPECT_EQ(Decode(Bytes(fromControl.begin() + 1, fromControl.end())).Layout, ReplyLayout::None);
    EXPECT_EQ(Decode(Bytes(fromControl.begin() + 2, fromControl.end())).Layout, ReplyLayout::None);
    EXPECT_EQ(Decode(BytesFromHex("90 1F")).Layout, ReplyLayout::None);
    EXPECT_EQ(Decode(BytesFromHex("1F 90")).Layout, ReplyLayout::None);
    EXPECT_EQ(Decode({}).Layout, ReplyLayout::None);
}

TEST(DecodeReply, OnlyTheFirstOccurrenceIsExamined) {
    const Bytes echo = BytesFromHex("FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16");
    Bytes heatWith901F = kHeatReply;
    heatWith901F[kIdOffset] = 0x90;
    heatWith901F[kIdOffset + 1] = 0x1F;
    Bytes waterWith901F = kWaterReply;
    waterWith901F[kIdOffset] = 0x90;
    waterWith901F[kIdOffset + 1] = 0x1F;
    // A 0x90 0x1F inside the data of a reply whose identifier is 0x1F 0x90: the byte two places
    // before it is the sequence number, not 0x81.
    Bytes dataHolds901F = kWaterReply;
    dataHolds901F[kDataOffset] = 0x90;
    dataHolds901F[kDataOffset + 1] = 0x1F;

    struct Case {
        const char* Name;
        Bytes Chunk;
        std::string Expected;
    };
    const std::vector<Case> cases = {
        {"echo of the request before the reply", Concat(echo, kWaterReply), ""},
        {"echo before a reply with 90 1F, which is searched first", Concat(echo, waterWith901F),
         kWaterText},
        {"90 1F in the data hides the valid reply", dataHolds901F, ""},
        {"90 1F in noise after the reply hides it",
         Concat(kWaterReply, BytesFromHex("00 90 1F 00")), ""},
        {"90 1F after a 1F 90 reply with a valid frame behind it",
         Concat(kWaterReply, heatWith901F), kHeatText},
        {"two replies: the first wins", Concat(kWaterReply, kHeatReply), kWaterText},
        {"two replies, other order", Concat(kHeatReply, kWaterReply), kHeatText},
        {"bad first reply, good second", Concat(BytesFromHex("68 81 15 1F 90 00"), kHeatReply), ""},
        {"noise before and after",
         Concat(Concat(BytesFromHex("00 FF 16 68"), kWaterReply), BytesFromHex("00 01 02")),
         kWaterText},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(c.Chunk).Text, c.Expected) << c.Name;
}

TEST(DecodeReply, ChunksCutShortAreNotDecodedAndNotReadPast) {
    // A prefix that still holds every data field decodes the same (checksum and end byte are
    // not read); any shorter prefix gives nothing. Each prefix is an exactly sized heap copy.
    struct Reply {
        Bytes Chunk;
        std::string Text;
        std::size_t DataSize;
    };
    Bytes waterWith901F = kWaterReply;
    waterWith901F[kIdOffset] = 0x90;
    waterWith901F[kIdOffset + 1] = 0x1F;
    const std::vector<Reply> replies = {
        {kWaterReply, kWaterText, 0x16 - 3},
        {kHeatReply, kHeatText, 0x2E - 3},
        {waterWith901F, kWaterText, 0x16 - 3},
    };
    for (const auto& reply : replies) {
        const std::size_t complete = kDataOffset + reply.DataSize;
        ASSERT_EQ(complete + 2, reply.Chunk.size());
        for (std::size_t length = 0; length < reply.Chunk.size(); ++length) {
            const Bytes prefix(reply.Chunk.begin(), reply.Chunk.begin() + length);
            const DecodedReply decoded = Decode(prefix);
            if (length >= complete) {
                EXPECT_EQ(decoded.Text, reply.Text) << length;
            } else {
                EXPECT_EQ(decoded.Layout, ReplyLayout::None) << length;
                EXPECT_EQ(decoded.Text, "") << length;
            }
        }
    }
}

} // namespace
} // namespace mbus::protocol
