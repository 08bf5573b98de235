// The operations of a meter on the line: each operation's request bytes (and the meter's side
// finding the same request in them), each reply layout taken apart in both identifier orders,
// and which reply answers which request, the sequence number included.
#include "protocol/meter_operations.h"
#include "protocol/meter_reply.h"
#include "protocol/parsed_reply.h"
#include "protocol/response_decoder.h"
#include "support/bytes.h"
#include "util/string_c.h"

#include <gtest/gtest.h>

#include <string>

namespace mbus::protocol {
namespace {

using Bytes = testing::ByteVector;
using testing::BytesFromHex;

const LineAddress kMeter{0x34, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12}; // 12345678901234 as typed

MeterTarget Target(DataIdOrder order = DataIdOrder::HighFirst) {
    MeterTarget target;
    target.TypeCode = 0x10;
    target.Address = kMeter;
    target.Order = order;
    target.Sequence = 0x05;
    return target;
}

std::string Hex(const Bytes& bytes) {
    return util::BytesToHexTrimmed(bytes);
}

TEST(MeterOperationsTest, EachOperationsRequestBytes) {
    const MeterTarget high = Target();
    const MeterTarget low = Target(DataIdOrder::LowFirst);
    MeterTarget anyMeter = high;
    anyMeter.Address.fill(kWildcardByte);
    const struct {
        ReadRequest Request;
        const char* Hex;
    } cases[] = {
        {ReadDataRequest(high, kCurrentDataId),
         "FE FE 68 10 34 12 90 78 56 34 12 01 03 90 1F 05 1A 16"},
        {ReadHistoryRequest(low, 3), "FE FE 68 10 34 12 90 78 56 34 12 01 03 22 D1 05 5E 16"},
        {ReadKeyVersionRequest(high), "FE FE 68 10 34 12 90 78 56 34 12 09 03 81 06 05 FA 16"},
        {ValveRequest(high, ValveAction::Close),
         "FE FE 68 10 34 12 90 78 56 34 12 04 04 A0 17 05 99 BF 16"},
        {ValveRequest(low, ValveAction::Open),
         "FE FE 68 10 34 12 90 78 56 34 12 04 04 17 A0 05 55 7B 16"},
        {SetClockRequest(high, {2024, 1, 2, 3, 4, 5}),
         "FE FE 68 10 34 12 90 78 56 34 12 04 0A A0 15 05 05 04 03 02 01 24 20 7D 16"},
        {SetDayRequest(high, MeterDay::Settlement, 15),
         "FE FE 68 10 34 12 90 78 56 34 12 04 04 A0 11 05 15 35 16"},
        {SetDayRequest(low, MeterDay::Reading, 5),
         "FE FE 68 10 34 12 90 78 56 34 12 04 04 12 A0 05 05 26 16"},
        {SetPriceTableRequest(high, {{350, 450, 600}, {100, 200}}),
         "FE FE 68 10 34 12 90 78 56 34 12 04 12 A0 10 05 50 03 00 00 01 00 50 04 00 00 02 00 00 "
         "06 00 DD 16"},
        {PurchaseRequest(high, {4, 12345}),
         "FE FE 68 10 34 12 90 78 56 34 12 04 08 A0 13 05 04 45 23 01 00 93 16"},
        {WriteAddressRequest(anyMeter, kMeter),
         "FE FE 68 10 AA AA AA AA AA AA AA 15 0A A0 18 05 34 12 90 78 56 34 12 E4 16"},
    };
    for (const auto& c : cases) {
        const Bytes bytes = BuildRequest(c.Request);
        EXPECT_EQ(Hex(bytes), c.Hex);
        // The meter finds the same request in them, behind noise.
        Bytes line = BytesFromHex("00 68 16");
        line.insert(line.end(), bytes.begin(), bytes.end());
        const RequestScan scan = ScanReadRequest(line);
        ASSERT_TRUE(scan.Request) << c.Hex;
        EXPECT_EQ(scan.Consumed, line.size());
        EXPECT_EQ(scan.Request->Control, c.Request.Control);
        EXPECT_EQ(scan.Request->DataId, c.Request.DataId);
        EXPECT_EQ(scan.Request->Data, c.Request.Data) << c.Hex;
        EXPECT_EQ(scan.Request->Sequence, 0x05);
    }
}

// A reply from the meter kMeter: `control`, the identifier, sequence 05, `data`.
Bytes Reply(std::uint8_t control, const DataIdentifier& id, const char* data) {
    ReplyHeader header;
    header.TypeCode = 0x10;
    header.Address = kMeter;
    header.DataId = id;
    header.Sequence = 0x05;
    return BuildDataReply(header, control, BytesFromHex(data));
}

TEST(MeterOperationsTest, EachReplyLayoutInEitherIdentifierOrder) {
    const struct {
        std::uint8_t Control;
        DataIdentifier Id;
        const char* Data;
        ReplyKind Kind;
        ReplyLayout Layout;
        const char* Values;
    } cases[] = {
        {0x81, kFirstHistoryId, "00 10 00 00 2C", ReplyKind::ReadData, ReplyLayout::History,
         "上1月结算日累积量:000010.00m³;"},
        {0x81, HistoryId(12), "45 23 01 00 05", ReplyKind::ReadData, ReplyLayout::History,
         "上12月结算日累积量:000123.45kWh;"},
        {0x81, kPriceTableId, "50 03 00 00 01 00 50 04 00 00 02 00 00 06 00", ReplyKind::ReadData,
         ReplyLayout::PriceTable,
         "价格1:0003.50元/m³;用量1:000100m³;价格2:0004.50元/m³;用量2:000200m³;价格3:0006.00元/"
         "m³;"},
        {0x81, kSettlementDayId, "15", ReplyKind::ReadData, ReplyLayout::SettlementDay,
         "结算日:15日;"},
        {0x81, kReadingDayId, "05", ReplyKind::ReadData, ReplyLayout::ReadingDay, "抄表日:05日;"},
        {0x81, kPurchaseRecordId, "04 45 23 01 00 00 00 03 00 67 45 02 00 01 00",
         ReplyKind::ReadData, ReplyLayout::Purchase,
         "购买序号:04;本次购入金额:000123.45元;累计购入金额:000300.00元;剩余金额:000245.67元;"
         "状态:0100;"},
        {0x89, kKeyVersionId, "07", ReplyKind::KeyVersion, ReplyLayout::KeyVersion, "密钥版本:07;"},
        {0x84, kValveId, "01 00", ReplyKind::Write, ReplyLayout::WriteStatus, "状态:0100;"},
        {0x84, kSetClockId, "", ReplyKind::Write, ReplyLayout::None, ""},
        {0x95, kWriteAddressId, "", ReplyKind::WriteAddress, ReplyLayout::None, ""},
    };
    for (const auto& c : cases) {
        for (const DataIdOrder order : {DataIdOrder::HighFirst, DataIdOrder::LowFirst}) {
            const Bytes bytes = Reply(c.Control, InOrder(c.Id, order), c.Data);
            const auto reply = ParseReply(bytes);
            ASSERT_TRUE(reply) << c.Values;
            EXPECT_EQ(reply->Kind, c.Kind) << c.Values;
            EXPECT_EQ(reply->Format ? reply->Format->Layout : ReplyLayout::None, c.Layout);
            EXPECT_EQ(LabelledValues(reply->Fields), c.Values);
            EXPECT_EQ(reply->Line, c.Kind == ReplyKind::ReadData ? c.Values : "");
            EXPECT_EQ(reply->DataId, InOrder(c.Id, order));
            EXPECT_EQ(AddressText(*reply->Address), "12345678901234");
            EXPECT_EQ(FirstFailure(reply->Check), CheckFailure::None);
            EXPECT_TRUE(DecodeMeterData(bytes).empty()); // the decoder's line is 90 1F's alone
            // Read data only where read data are looked for.
            EXPECT_EQ(ParseReply(bytes, false)->Kind,
                      c.Kind == ReplyKind::ReadData ? ReplyKind::Unknown : c.Kind);
        }
    }

    // Every value keeps its bytes as received; the status bytes say the valve's state.
    const auto purchase = ParseReply(Reply(0x81, kPurchaseRecordId, cases[5].Data));
    EXPECT_EQ(purchase->Fields[1].Raw, "45230100");
    EXPECT_EQ(purchase->Status.ValveState, Valve::Closed);
    const auto history = ParseReply(Reply(0x81, kFirstHistoryId, cases[0].Data));
    EXPECT_EQ(history->Fields[0].Raw, "00100000");
    EXPECT_TRUE(history->Status.Raw.empty());
    // A known identifier with a length its layout does not have is no reading.
    EXPECT_EQ(ParseReply(Reply(0x81, kSettlementDayId, "15 00"))->Kind, ReplyKind::Unknown);
}

// A reply answers the request of its control code and identifier (in either order), a refusal
// answers any; the sequence number must be the request's, or the frame check fails.
TEST(MeterOperationsTest, WhichReplyAnswersWhichRequest) {
    const ReadRequest close = ValveRequest(Target(), ValveAction::Close);
    const ReadRequest setClock = SetClockRequest(Target(), {2024, 1, 2, 3, 4, 5});
    const ReadRequest history = ReadHistoryRequest(Target(DataIdOrder::LowFirst), 1);

    auto accepted = ParseReply(Reply(0x84, InOrder(kValveId, DataIdOrder::LowFirst), "01 00"));
    EXPECT_TRUE(Answers(*accepted, close));
    EXPECT_FALSE(Answers(*accepted, setClock));
    EXPECT_FALSE(Answers(*accepted, history));
    EXPECT_TRUE(Answers(*ParseReply(Reply(0x81, kFirstHistoryId, "00 10 00 00 2C")), history));

    ReplyHeader header;
    header.TypeCode = 0x10;
    header.Address = kMeter;
    header.Sequence = 0x05;
    const Bytes refusal = BuildErrorReply(header, 0xC4, BytesFromHex("01 00"));
    EXPECT_EQ(Hex(refusal), "FE FE 68 10 34 12 90 78 56 34 12 C4 03 05 01 00 2F 16");
    auto refused = ParseReply(refusal);
    EXPECT_EQ(refused->Kind, ReplyKind::Error);
    EXPECT_EQ(refused->ErrorStatus, BytesFromHex("01 00"));
    EXPECT_TRUE(Answers(*refused, close));
    EXPECT_FALSE(Answers(*refused, history)); // 0xC4 refuses a write, not a read

    CompareWithRequest(*accepted, close);
    EXPECT_EQ(FirstFailure(accepted->Check), CheckFailure::None);
    ReadRequest otherSequence = close;
    otherSequence.Sequence = 0x06;
    CompareWithRequest(*accepted, otherSequence);
    EXPECT_EQ(accepted->Check.SequenceMatch, false);
    EXPECT_EQ(FirstFailure(accepted->Check), CheckFailure::Sequence);
    CompareWithRequest(*refused, otherSequence);
    EXPECT_EQ(FirstFailure(refused->Check), CheckFailure::Sequence);

    // Another meter's reply answers nothing; a new address answers the write of that address.
    MeterTarget oldMeter = Target();
    oldMeter.Address = {0x01, 0, 0, 0, 0, 0, 0};
    const auto moved = ParseReply(Reply(0x95, kWriteAddressId, ""));
    EXPECT_TRUE(Answers(*moved, WriteAddressRequest(oldMeter, kMeter)));
    EXPECT_FALSE(Answers(*moved, WriteAddressRequest(oldMeter, {0x02, 0, 0, 0, 0, 0, 0})));
}

} // namespace
} // namespace mbus::protocol
