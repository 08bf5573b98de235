// The reply a chunk holds, taken apart once: the strict look that the lenient decoder skips (the
// frame check against the request), the units of each field, the status in words, the
// read-address exchange, and the replies that are neither. Frames are made up here (or built by
// the simulated meter's reply builder) and then spoiled one byte at a time.
#include "protocol/frame_check.h"
#include "protocol/meter_reply.h"
#include "protocol/parsed_reply.h"
#include "protocol/read_address.h"
#include "protocol/response_decoder.h"
#include "support/bytes.h"
#include "util/string_c.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mbus::protocol {
namespace {

using Bytes = testing::ByteVector;
using testing::BytesFromHex;

const LineAddress kMeter{0x34, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12}; // 12345678901234 as typed

ReplyHeader MeterHeader(std::uint8_t typeCode) {
    ReplyHeader header;
    header.TypeCode = typeCode;
    header.Address = kMeter;
    return header;
}

ReadRequest RequestFor(const LineAddress& address, std::uint8_t typeCode) {
    ReadRequest request;
    request.TypeCode = typeCode;
    request.Address = address;
    return request;
}

// The decoded reply of a chunk, checked against `request`; none when nothing decodes.
std::optional<ParsedReply> Read(const Bytes& chunk, const ReadRequest* request = nullptr) {
    const Bytes copy(chunk); // exactly sized, so a read past the end is a sanitizer error
    auto reply = ParseReply(copy);
    if (reply && !reply->Decoded())
        reply.reset();
    EXPECT_EQ(reply.has_value(), !DecodeMeterData(copy).empty());
    if (reply) {
        EXPECT_EQ(reply->Line, DecodeMeterData(copy));
        if (request)
            CompareWithRequest(*reply, *request);
    }
    return reply;
}

// The read-address reply of a chunk, checked against `request`; none when there is none.
std::optional<ParsedReply> FindAddressReply(const Bytes& chunk, const ReadRequest* request) {
    const Bytes copy(chunk);
    auto reply = ParseReply(copy);
    if (!reply || reply->Kind != ReplyKind::ReadAddress)
        return std::nullopt;
    if (request)
        CompareWithRequest(*reply, *request);
    return reply;
}

TEST(FrameCheckTest, GoodBadAndCutFramesAndTheRequestAskedFor) {
    const Bytes good = BuildWaterReply(MeterHeader(0x10), WaterReading{});
    const std::size_t checksumAt = good.size() - 2;
    const ReadRequest asked = RequestFor(kMeter, 0x10);

    const auto sound = Read(good, &asked);
    ASSERT_TRUE(sound);
    EXPECT_TRUE(sound->Check.Complete);
    EXPECT_EQ(sound->Check.Start, true);
    EXPECT_EQ(sound->Check.Checksum, true);
    EXPECT_EQ(sound->Check.End, true);
    EXPECT_EQ(sound->Check.AddressMatch, true);
    EXPECT_EQ(sound->Check.TypeMatch, true);
    EXPECT_EQ(FirstFailure(sound->Check), CheckFailure::None);
    EXPECT_EQ(AddressText(*sound->Address), "12345678901234");
    EXPECT_EQ(sound->TypeCode, 0x10);

    // Each spoiled byte fails its own check, and the line decodes all the same.
    struct Spoiled {
        std::size_t At;
        CheckFailure Failure;
    };
    for (const Spoiled spoiled :
         {Spoiled{2, CheckFailure::Start}, Spoiled{checksumAt, CheckFailure::Checksum},
          Spoiled{checksumAt + 1, CheckFailure::End}, Spoiled{20, CheckFailure::Checksum}}) {
        Bytes bad = good;
        bad[spoiled.At] ^= 0x01;
        const auto reading = Read(bad, &asked);
        ASSERT_TRUE(reading) << spoiled.At;
        EXPECT_EQ(FirstFailure(reading->Check), spoiled.Failure) << spoiled.At;
    }

    // Another meter, or another type, than the one asked for.
    const ReadRequest otherMeter = RequestFor({0x35, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12}, 0x10);
    EXPECT_EQ(Read(good, &otherMeter)->Check.AddressMatch, false);
    EXPECT_EQ(FirstFailure(Read(good, &otherMeter)->Check), CheckFailure::Address);
    const ReadRequest otherType = RequestFor(kMeter, 0x11);
    EXPECT_EQ(FirstFailure(Read(good, &otherType)->Check), CheckFailure::Type);
    // The wildcards ask for no particular meter or type: nothing to compare.
    LineAddress wildcard;
    wildcard.fill(kWildcardByte);
    const ReadRequest anyMeter = RequestFor(wildcard, kWildcardByte);
    const auto any = Read(good, &anyMeter);
    EXPECT_EQ(any->Check.AddressMatch, std::nullopt);
    EXPECT_EQ(any->Check.TypeMatch, std::nullopt);
    EXPECT_EQ(FirstFailure(any->Check), CheckFailure::None);

    // Cut short before the end byte: decoded, but not complete; cut before the head: no header.
    const auto cut = Read(Bytes(good.begin(), good.end() - 1), &asked);
    ASSERT_TRUE(cut);
    EXPECT_FALSE(cut->Check.Complete);
    EXPECT_EQ(cut->Check.Checksum, std::nullopt);
    EXPECT_EQ(FirstFailure(cut->Check), CheckFailure::Incomplete);
    const auto headless = Read(Bytes(good.begin() + 5, good.end()), &asked);
    ASSERT_TRUE(headless);
    EXPECT_EQ(headless->Address, std::nullopt);
    EXPECT_EQ(headless->TypeCode, std::nullopt);
    EXPECT_EQ(headless->Check.Start, std::nullopt);
    EXPECT_EQ(headless->Check.AddressMatch, std::nullopt);
}

TEST(ParsedReplyTest, FieldsCarryTheDecodedValuesAndTheirUnits) {
    const Bytes heat = BytesFromHex(
        "FE FE 68 20 AA AA AA AA AA AA AA 81 2E 1F 90 00 45 23 01 00 05 56 34 02 00 05 34 12 "
        "00 00 17 45 23 01 00 35 89 67 05 00 2C 43 65 00 21 45 00 34 12 00 05 04 03 02 01 24 "
        "20 00 00 4E 16");
    const auto reading = Read(heat);
    ASSERT_TRUE(reading);
    std::string line;
    std::vector<std::string> units;
    for (const FieldReading& field : reading->Fields) {
        line += std::string(field.Label) + ":" + field.Value + ";";
        units.push_back(field.Unit);
    }
    EXPECT_EQ(line, DecodeMeterData(heat)); // the values are the decoded line's
    EXPECT_EQ(units, (std::vector<std::string>{"kWh", "kWh", "kW", "m³/h", "m³", "°C", "°C", "h",
                                               "", ""}));
    EXPECT_EQ(reading->Fields[8].Kind, FieldKind::Clock);
    EXPECT_EQ(reading->Fields[9].Kind, FieldKind::Status);

    const std::pair<std::uint8_t, const char*> codes[] = {
        {0x01, "J"},    {0x02, "Wh"},   {0x05, "kWh"},  {0x08, "MWh"},    {0x0A, "MWh×100"},
        {0x0B, "kJ"},   {0x0E, "MJ"},   {0x11, "GJ"},   {0x13, "GJ×100"}, {0x14, "W"},
        {0x17, "kW"},   {0x1A, "MW"},   {0x29, "L"},    {0x2C, "m³"},     {0x32, "L/h"},
        {0x35, "m³/h"}, {0x00, "0x00"}, {0x3F, "0x3F"}, {0xAB, "0xAB"},
    };
    for (const auto& [code, unit] : codes) {
        WaterReading water;
        water.FlowUnit = code;
        const auto flow = Read(BuildWaterReply(MeterHeader(0x10), water));
        ASSERT_TRUE(flow);
        EXPECT_EQ(flow->Fields[0].Unit, unit) << int(code);
        EXPECT_EQ(flow->Fields[1].Unit, unit) << int(code);
    }
}

TEST(ParsedReplyTest, StatusBitsOfTheFirstByteAsReceived) {
    struct Case {
        std::array<std::uint8_t, 2> Bytes;
        const char* Raw;
        Valve ValveState;
        Battery BatteryState;
    };
    const Case cases[] = {
        {{0x00, 0x00}, "0000", Valve::Open, Battery::Normal},
        {{0x01, 0x00}, "0100", Valve::Closed, Battery::Normal},
        {{0x02, 0x00}, "0200", Valve::Unknown, Battery::Normal},
        {{0x03, 0x00}, "0300", Valve::Abnormal, Battery::Normal},
        {{0x04, 0x00}, "0400", Valve::Open, Battery::Low},
        {{0x05, 0x12}, "0512", Valve::Closed, Battery::Low},
        {{0x06, 0x00}, "0600", Valve::Unknown, Battery::Low},
        {{0xFF, 0x34}, "FF34", Valve::Abnormal, Battery::Low},
        {{0x00, 0x07}, "0007", Valve::Open, Battery::Normal}, // the second byte says nothing here
    };
    for (const Case& c : cases) {
        WaterReading water;
        water.Status = c.Bytes;
        const auto reading = Read(BuildWaterReply(MeterHeader(0x10), water));
        ASSERT_TRUE(reading);
        EXPECT_EQ(reading->Status.Raw, c.Raw);
        EXPECT_EQ(reading->Fields.back().Value, c.Raw);
        EXPECT_EQ(reading->Status.ValveState, c.ValveState) << c.Raw;
        EXPECT_EQ(reading->Status.BatteryState, c.BatteryState) << c.Raw;
    }
    EXPECT_EQ(ValveName(Valve::Abnormal), "abnormal");
    EXPECT_EQ(ValveText(Valve::Closed), "关");
    EXPECT_EQ(BatteryName(Battery::Low), "low");
    EXPECT_EQ(BatteryText(Battery::Low), "欠压");
}

TEST(ReadAddressTest, RequestReplyAndTheEchoBeforeIt) {
    const std::vector<std::uint8_t> request = BuildReadAddressRequest();
    EXPECT_EQ(util::BytesToHex(request), "FE FE 68 AA AA AA AA AA AA AA AA 03 03 81 0A 00 49 16 ");
    const auto scanned = ScanReadRequest(request).Request;
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned->Control, kControlReadAddress);

    ReplyHeader header = MeterHeader(0x30);
    header.DataId = {0x0A, 0x81}; // a meter that writes the identifier the other way round
    const std::vector<std::uint8_t> reply = BuildAddressReply(header);
    EXPECT_EQ(util::BytesToHex(reply), "FE FE 68 30 34 12 90 78 56 34 12 83 03 0A 81 00 93 16 ");

    // The echo of the request comes first on a two-wire line; it carries the identifier too.
    Bytes line(request.begin(), request.end());
    line.insert(line.end(), reply.begin(), reply.end());
    const auto found = FindAddressReply(line, &*scanned);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->TypeCode, 0x30);
    EXPECT_EQ(AddressText(*found->Address), "12345678901234");
    EXPECT_EQ(FirstFailure(found->Check), CheckFailure::None);
    EXPECT_EQ(found->Check.AddressMatch, std::nullopt); // asked at the wildcard
    EXPECT_TRUE(DecodeMeterData(line).empty());         // no reading, so no decoded line

    Bytes bad(reply.begin(), reply.end());
    bad[bad.size() - 2] ^= 0xFF;
    EXPECT_EQ(FirstFailure(FindAddressReply(bad, nullptr)->Check), CheckFailure::Checksum);
    EXPECT_FALSE(FindAddressReply(request, nullptr));
    // Cut inside the header: not found, and nothing read outside the chunk.
    EXPECT_FALSE(FindAddressReply(Bytes(line.end() - 9, line.end()), nullptr));
}

// A whole frame from its start byte: header of the meter kMeter, `control`, the data, sum, end.
Bytes Frame(std::uint8_t control, const Bytes& data) {
    Bytes frame = BytesFromHex("68 10 34 12 90 78 56 34 12");
    frame.push_back(control);
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(util::SumBytes(frame));
    frame.push_back(0x16);
    return frame;
}

// A refusal (the error bit 0x40 beside the reply bit) and a reply of no kind the reader knows are
// whole frames: found with their header, sequence number and status bytes, never decoded; the
// echo of a request before them is passed over, and a frame without its end byte is no reply.
TEST(ParsedReplyTest, RefusalsAndRepliesOfNoKnownKind) {
    const Bytes echo = BuildReadAddressRequest();
    for (const Bytes& status : {BytesFromHex("01 02"), BytesFromHex("04")}) {
        Bytes line = echo;
        Bytes data{0x07};
        data.insert(data.end(), status.begin(), status.end());
        const Bytes refusal = Frame(0xC1, data);
        line.insert(line.end(), refusal.begin(), refusal.end());
        const auto reply = ParseReply(line);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Kind, ReplyKind::Error);
        EXPECT_FALSE(reply->Decoded());
        EXPECT_EQ(reply->Control, 0xC1);
        EXPECT_EQ(reply->ControlAt, echo.size() + kControlAt);
        EXPECT_EQ(reply->Sequence, 0x07);
        EXPECT_EQ(reply->ErrorStatus, status);
        EXPECT_EQ(AddressText(*reply->Address), "12345678901234");
        EXPECT_EQ(FirstFailure(reply->Check), CheckFailure::None);
        EXPECT_TRUE(reply->Line.empty());
    }

    const auto other = ParseReply(Frame(0x86, BytesFromHex("17 A0 05")));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->Kind, ReplyKind::Unknown);
    EXPECT_EQ(other->DataId, (DataIdentifier{0x17, 0xA0}));
    EXPECT_EQ(other->Sequence, 0x05);

    Bytes cut = Frame(0xC1, BytesFromHex("07 01 02"));
    cut.back() = 0x00;
    EXPECT_FALSE(ParseReply(cut));
    EXPECT_FALSE(ParseReply(echo));
}

// A reply behind the echo of its request is decoded, though DecodeMeterData (which stops at the
// echo's identifier) gives nothing; without an echo a reply whose data hold 90 1F stays as the
// decoder leaves it. An echo alone is no reply.
TEST(ParsedReplyTest, AReplyBehindTheEchoOfItsRequest) {
    const Bytes request = BytesFromHex("FE FE 68 10 34 12 90 78 56 34 12 01 03 1F 90 00 E5 16");
    WaterReading reading;
    reading.CurrentFlow = 1234;
    const Bytes water = BuildWaterReply(MeterHeader(0x10), reading);
    Bytes line = request;
    line.insert(line.end(), water.begin(), water.end());
    ASSERT_TRUE(DecodeMeterData(line).empty());
    const auto reply = ParseReply(line);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->Decoded());
    EXPECT_EQ(reply->Line, DecodeMeterData(water));
    EXPECT_EQ(reply->ControlAt, request.size() + 2 + kControlAt);
    EXPECT_EQ(FirstFailure(reply->Check), CheckFailure::None);
    EXPECT_FALSE(ParseReply(request));
    EXPECT_FALSE(ParseReply(line, false)->Decoded());

    WaterReading hidden;
    hidden.Status = {0x90, 0x1F}; // found first, with no 0x81 two bytes before it
    const Bytes data = BuildWaterReply(MeterHeader(0x10), hidden);
    EXPECT_TRUE(DecodeMeterData(data).empty());
    EXPECT_FALSE(ParseReply(data)->Decoded());
}

// The receive road decodes read-data replies only while the address text gives seven bytes (the
// frame is then no more than a reply of no known kind); a read-address reply is found either way.
// Each frame is parsed once.
TEST(ParsedReplyTest, TheReceiveRoadsGateLeavesOtherRepliesAlone) {
    const Bytes water = BuildWaterReply(MeterHeader(0x10), WaterReading{});
    EXPECT_TRUE(ParseReceivedFrame("12 34 56 78 90 12 34", water)->Decoded());
    EXPECT_EQ(ParseReceivedFrame("12 34 56", water)->Kind, ReplyKind::Unknown);
    ReplyHeader header = MeterHeader(0x10);
    header.DataId = kReadAddressId;
    const Bytes address = BuildAddressReply(header);
    EXPECT_EQ(ParseReceivedFrame("12 34 56", address)->Kind, ReplyKind::ReadAddress);

    const std::uint64_t before = RepliesParsed();
    ParseReceivedFrame("AA AA AA AA AA AA AA", water);
    EXPECT_EQ(RepliesParsed(), before + 1);
}

} // namespace
} // namespace mbus::protocol
