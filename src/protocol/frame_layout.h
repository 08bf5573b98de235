// The byte layout of the household meter protocol's exchanges, in one place: the bytes that frame
// a message, the control codes, data identifiers and data lengths of every operation (reads of
// the counters, history, prices, days, purchases and key version; writes of the valve, clock,
// days, prices, purchases and address; the read-address request), where each header byte stands,
// and the field tables of the replies. The request builders, the reply decoder and parser, the
// frame check and the simulated meter all read it from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mbus::protocol {

// Bytes that frame a message.
inline constexpr std::uint8_t kWakeUpByte = 0xFE; // sent before the start byte to wake the line
inline constexpr std::uint8_t kStartByte = 0x68;
inline constexpr std::uint8_t kEndByte = 0x16;

// Control codes.
inline constexpr std::uint8_t kControlRead = 0x01;                // read-data request
inline constexpr std::uint8_t kControlReadReply = 0x81;           // its reply
inline constexpr std::uint8_t kControlReadAddress = 0x03;         // read-address request
inline constexpr std::uint8_t kControlReadAddressReply = 0x83;    // its reply
inline constexpr std::uint8_t kControlWrite = 0x04;               // write-data request
inline constexpr std::uint8_t kControlWriteReply = 0x84;          // its reply
inline constexpr std::uint8_t kControlReadKeyVersion = 0x09;      // read-key-version request
inline constexpr std::uint8_t kControlReadKeyVersionReply = 0x89; // its reply
inline constexpr std::uint8_t kControlWriteAddress = 0x15;        // write-address request
inline constexpr std::uint8_t kControlWriteAddressReply = 0x95;   // its reply

// Every reply's control code has the reply bit; a refusal has the error bit as well (0xC1, 0xC4,
// 0xD5, ...). Without them it is the code of the request answered.
inline constexpr std::uint8_t kReplyBit = 0x80;
inline constexpr std::uint8_t kErrorBit = 0x40;
inline constexpr std::uint8_t kRequestControlMask = 0x3F;

// The type and address byte that stands for any meter: a request to the address AA..AA (or of
// type AA) is answered by whichever meter hears it.
inline constexpr std::uint8_t kWildcardByte = 0xAA;

// Data lengths: the bytes from the data identifier to the last data byte.
inline constexpr std::uint8_t kRequestDataLength = 0x03; // identifier and sequence number
inline constexpr std::uint8_t kWaterDataLength = 0x16;   // reply of water and gas meters
inline constexpr std::uint8_t kHeatDataLength = 0x2E;    // reply of heat meters
// Replies of the other reads, and of writes that add the status bytes.
inline constexpr std::uint8_t kHistoryDataLength = 0x08;     // 4 BCD bytes and a unit byte
inline constexpr std::uint8_t kPriceTableDataLength = 0x12;  // 5 x 3 BCD bytes
inline constexpr std::uint8_t kDayDataLength = 0x04;         // 1 BCD byte
inline constexpr std::uint8_t kPurchaseDataLength = 0x12;    // 1 + 4 + 4 + 4 + 2 bytes
inline constexpr std::uint8_t kKeyVersionDataLength = 0x04;  // 1 byte
inline constexpr std::uint8_t kWriteStatusDataLength = 0x05; // ST0 ST1 after DI and SER
// The longest data length a request can have; longer ones are taken for noise.
inline constexpr std::uint8_t kMaxRequestDataLength = 0x40;
// The read-address request and its reply carry the identifier and sequence number alone: the
// meter's address and type travel in the reply's header.
inline constexpr std::uint8_t kAddressDataLength = 0x03;

inline constexpr std::size_t kAddressSize = 7;
inline constexpr std::size_t kDataIdSize = 2;

// Seven address bytes as they travel, least significant byte first.
using LineAddress = std::array<std::uint8_t, kAddressSize>;
using DataIdentifier = std::array<std::uint8_t, kDataIdSize>;

// The read-address identifier in the order sent; meters that answer 0A 81 are understood too.
inline constexpr DataIdentifier kReadAddressId{0x81, 0x0A};

// The identifiers of the operations as written, high byte first. Meters take them in either
// order (meters of the 2004 edition "90 1F", later ones "1F 90"): a request puts them in the order
// the user picks, a reply is recognised in both.
inline constexpr DataIdentifier kCurrentDataId{0x90, 0x1F};      // read: the current counters
inline constexpr DataIdentifier kFirstHistoryId{0xD1, 0x20};     // read: 1 month ago .. D1 2B: 12
inline constexpr DataIdentifier kPriceTableId{0x81, 0x02};       // read: the price table
inline constexpr DataIdentifier kSettlementDayId{0x81, 0x03};    // read: the settlement day
inline constexpr DataIdentifier kReadingDayId{0x81, 0x04};       // read: the reading day
inline constexpr DataIdentifier kPurchaseRecordId{0x81, 0x05};   // read: the purchase record
inline constexpr DataIdentifier kKeyVersionId{0x81, 0x06};       // read key version (0x09)
inline constexpr DataIdentifier kSetPriceTableId{0xA0, 0x10};    // write: the price table
inline constexpr DataIdentifier kSetSettlementDayId{0xA0, 0x11}; // write: the settlement day
inline constexpr DataIdentifier kSetReadingDayId{0xA0, 0x12};    // write: the reading day
inline constexpr DataIdentifier kPurchaseId{0xA0, 0x13};         // write: a purchase
inline constexpr DataIdentifier kSetClockId{0xA0, 0x15};         // write: the meter clock
inline constexpr DataIdentifier kValveId{0xA0, 0x17};            // write: open or close the valve
inline constexpr DataIdentifier kWriteAddressId{0xA0, 0x18};     // write address (0x15)
inline constexpr int kHistoryMonths = 12;

// The valve write's one data byte.
inline constexpr std::uint8_t kValveOpen = 0x55;
inline constexpr std::uint8_t kValveClose = 0x99;

enum class DataIdOrder : std::uint8_t {
    HighFirst, // as written: A0 17
    LowFirst   // swapped: 17 A0
};

// An identifier as written, put in `order`.
constexpr DataIdentifier InOrder(const DataIdentifier& written, DataIdOrder order) {
    return order == DataIdOrder::HighFirst ? written : DataIdentifier{written[1], written[0]};
}

// Whether two identifiers are the same in either byte order.
constexpr bool SameIdentifier(const DataIdentifier& a, const DataIdentifier& b) {
    return a == b || (a[0] == b[1] && a[1] == b[0]);
}

// The identifier of the settlement-day counter `monthsAgo` (1..12) months ago, as written.
constexpr DataIdentifier HistoryId(int monthsAgo) {
    return {kFirstHistoryId[0], static_cast<std::uint8_t>(kFirstHistoryId[1] + monthsAgo - 1)};
}

// How many months ago the history identifier `id` (either order) names, or 0 for another one.
int HistoryMonthOf(const DataIdentifier& id);

// The address as typed: fourteen upper-case hex digits, most significant byte first.
std::string AddressText(const LineAddress& address);

// A message from its start byte on, request and reply alike: start byte, meter type, address,
// control code, data length, data identifier, sequence number, the data fields, the 8-bit sum of
// every byte from the start byte to the last data byte, end byte. Offsets from the start byte:
inline constexpr std::size_t kTypeAt = 1;
inline constexpr std::size_t kAddressAt = 2;
inline constexpr std::size_t kControlAt = 9;
inline constexpr std::size_t kLengthAt = 10;
inline constexpr std::size_t kDataIdAt = 11;
inline constexpr std::size_t kSequenceAt = 13;

// Where the checksum stands for a data length; the end byte follows it.
constexpr std::size_t ChecksumAt(std::uint8_t dataLength) {
    return kDataIdAt + dataLength;
}
// Bytes from the start byte to the end byte.
constexpr std::size_t MessageSize(std::uint8_t dataLength) {
    return ChecksumAt(dataLength) + 2;
}

// The request as the console sends it: two wake-up bytes, then the message.
inline constexpr std::size_t kRequestWakeUpBytes = 2;
inline constexpr std::size_t kReadFrameSize = kRequestWakeUpBytes + MessageSize(kRequestDataLength);
// Offsets inside that request buffer.
inline constexpr std::size_t kFrameTypeOffset = kRequestWakeUpBytes + kTypeAt;
inline constexpr std::size_t kFrameAddressOffset = kRequestWakeUpBytes + kAddressAt;
inline constexpr std::size_t kFrameSequenceOffset = kRequestWakeUpBytes + kSequenceAt;
inline constexpr std::size_t kFrameChecksumOffset =
    kRequestWakeUpBytes + ChecksumAt(kRequestDataLength);

// The reply decoder finds the data identifier and reads everything at fixed distances from the
// control code two bytes before it. Distances from the control code:
inline constexpr std::size_t kLengthAfterControl = kLengthAt - kControlAt;
inline constexpr std::size_t kDataIdAfterControl = kDataIdAt - kControlAt;
inline constexpr std::size_t kFieldsAfterControl = kSequenceAt + 1 - kControlAt;

inline constexpr std::size_t kMaxFieldSize = 7; // bytes of the longest value, the meter clock

enum class UnitByte : std::uint8_t { None, Follows };
enum class FieldKind : std::uint8_t {
    Quantity, // a reading in BCD digits, with a unit byte or a fixed unit
    Clock,    // the meter clock, YYYYMMDDhhmmss
    Status,   // the two status bytes
    Number    // a sequence number or version in BCD digits, without a unit
};
enum class ByteOrder : std::uint8_t {
    Reversed,  // least significant byte first on the line, shown the other way round
    AsReceived // shown in the order received (the status)
};

// One data field of a reply. Values are BCD digits, shown as their hex digits.
struct ReplyField {
    std::string_view Label; // as the decoded line shows it, ASCII colon included
    std::uint8_t Offset;    // of the value's first byte, from the control code
    std::uint8_t Size;      // value bytes, at most kMaxFieldSize
    std::uint8_t Decimals;  // digits after the point (two per byte); 0 = all digits in a row
    UnitByte Unit;          // whether a unit byte stands right after the value
    ByteOrder Order;
    FieldKind Kind = FieldKind::Quantity;
    std::string_view FixedUnit = {}; // the unit of a quantity without a unit byte

    // Where the unit byte stands, from the control code (when there is one).
    constexpr std::size_t UnitOffset() const { return Offset + Size; }
    // Bytes shown before the point.
    constexpr std::size_t IntegerBytes() const { return Size - Decimals / 2u; }
    // From the control code to the byte after the value and its unit.
    constexpr std::size_t End() const { return Offset + Size + (Unit == UnitByte::Follows); }
};

// Water and gas meters: data length 0x16.
inline constexpr std::array<ReplyField, 4> kWaterFields{{
    {"当前累积流量:", 5, 4, 2, UnitByte::Follows, ByteOrder::Reversed},
    {"结算日累积流量:", 10, 4, 2, UnitByte::Follows, ByteOrder::Reversed},
    {"实时时间:", 15, 7, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Clock},
    {"状态:", 22, 2, 0, UnitByte::None, ByteOrder::AsReceived, FieldKind::Status},
}};

// Heat meters: data length 0x2E.
inline constexpr std::array<ReplyField, 10> kHeatFields{{
    {"结算日热量:", 5, 4, 2, UnitByte::Follows, ByteOrder::Reversed},
    {"当前热量:", 10, 4, 2, UnitByte::Follows, ByteOrder::Reversed},
    {"热功率:", 15, 4, 2, UnitByte::Follows, ByteOrder::Reversed},
    {"流速:", 20, 4, 4, UnitByte::Follows, ByteOrder::Reversed},
    {"累积流量:", 25, 4, 2, UnitByte::Follows, ByteOrder::Reversed},
    {"供水温度:", 30, 3, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "°C"},
    {"回水温度:", 33, 3, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "°C"},
    {"累积工作时间:", 36, 3, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "h"},
    {"实时时间:", 39, 7, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Clock},
    {"状态:", 46, 2, 0, UnitByte::None, ByteOrder::AsReceived, FieldKind::Status},
}};

// The settlement-day counter of 1 .. 12 months ago (D1 20 .. D1 2B): water and gas meters count
// volume, heat meters heat, so the unit byte tells which.
constexpr ReplyField HistoryField(std::string_view label) {
    return {label, 5, 4, 2, UnitByte::Follows, ByteOrder::Reversed};
}
inline constexpr std::array<ReplyField, 1> kHistoryFields[kHistoryMonths] = {
    {HistoryField("上1月结算日累积量:")},  {HistoryField("上2月结算日累积量:")},
    {HistoryField("上3月结算日累积量:")},  {HistoryField("上4月结算日累积量:")},
    {HistoryField("上5月结算日累积量:")},  {HistoryField("上6月结算日累积量:")},
    {HistoryField("上7月结算日累积量:")},  {HistoryField("上8月结算日累积量:")},
    {HistoryField("上9月结算日累积量:")},  {HistoryField("上10月结算日累积量:")},
    {HistoryField("上11月结算日累积量:")}, {HistoryField("上12月结算日累积量:")},
};

// The price table (81 02): three prices with two volume steps between them, 3 BCD bytes each.
inline constexpr std::array<ReplyField, 5> kPriceTableFields{{
    {"价格1:", 5, 3, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "元/m³"},
    {"用量1:", 8, 3, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "m³"},
    {"价格2:", 11, 3, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "元/m³"},
    {"用量2:", 14, 3, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "m³"},
    {"价格3:", 17, 3, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "元/m³"},
}};

// The settlement day (81 03) and the reading day (81 04): the day of the month, one BCD byte.
inline constexpr std::array<ReplyField, 1> kSettlementDayFields{{
    {"结算日:", 5, 1, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "日"},
}};
inline constexpr std::array<ReplyField, 1> kReadingDayFields{{
    {"抄表日:", 5, 1, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "日"},
}};

// The purchase record (81 05): the purchase's sequence number, its amount, the total bought, the
// money left, and the status bytes.
inline constexpr std::array<ReplyField, 5> kPurchaseFields{{
    {"购买序号:", 5, 1, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Number},
    {"本次购入金额:", 6, 4, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "元"},
    {"累计购入金额:", 10, 4, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "元"},
    {"剩余金额:", 14, 4, 2, UnitByte::None, ByteOrder::Reversed, FieldKind::Quantity, "元"},
    {"状态:", 18, 2, 0, UnitByte::None, ByteOrder::AsReceived, FieldKind::Status},
}};

// The key version (control 0x89, 81 06): one byte.
inline constexpr std::array<ReplyField, 1> kKeyVersionFields{{
    {"密钥版本:", 5, 1, 0, UnitByte::None, ByteOrder::Reversed, FieldKind::Number},
}};

// The status bytes most meters add to a write reply (control 0x84).
inline constexpr std::array<ReplyField, 1> kWriteStatusFields{{
    {"状态:", 5, 2, 0, UnitByte::None, ByteOrder::AsReceived, FieldKind::Status},
}};

enum class ReplyLayout {
    None,
    Water,         // current counters, water and gas meters (90 1F, length 0x16)
    Heat,          // current counters, heat meters (90 1F, length 0x2E)
    History,       // settlement-day counter of a past month (D1 20 .. D1 2B)
    PriceTable,    // 81 02
    SettlementDay, // 81 03
    ReadingDay,    // 81 04
    Purchase,      // 81 05
    KeyVersion,    // 81 06 (control 0x89)
    WriteStatus    // a write reply's status bytes (control 0x84)
};

struct ReplyFormat {
    ReplyLayout Layout;
    std::uint8_t DataLength;
    std::span<const ReplyField> Fields; // in the order of the decoded line
};

inline constexpr ReplyFormat kWaterReplyFormat{ReplyLayout::Water, kWaterDataLength, kWaterFields};
inline constexpr ReplyFormat kHeatReplyFormat{ReplyLayout::Heat, kHeatDataLength, kHeatFields};
inline constexpr auto kHistoryReplyFormats = [] {
    std::array<ReplyFormat, kHistoryMonths> formats{};
    for (std::size_t month = 0; month < formats.size(); ++month)
        formats[month] = {ReplyLayout::History, kHistoryDataLength, kHistoryFields[month]};
    return formats;
}();
inline constexpr ReplyFormat kPriceTableReplyFormat{ReplyLayout::PriceTable, kPriceTableDataLength,
                                                    kPriceTableFields};
inline constexpr ReplyFormat kSettlementDayReplyFormat{ReplyLayout::SettlementDay, kDayDataLength,
                                                       kSettlementDayFields};
inline constexpr ReplyFormat kReadingDayReplyFormat{ReplyLayout::ReadingDay, kDayDataLength,
                                                    kReadingDayFields};
inline constexpr ReplyFormat kPurchaseReplyFormat{ReplyLayout::Purchase, kPurchaseDataLength,
                                                  kPurchaseFields};
inline constexpr ReplyFormat kKeyVersionReplyFormat{ReplyLayout::KeyVersion, kKeyVersionDataLength,
                                                    kKeyVersionFields};
inline constexpr ReplyFormat kWriteStatusReplyFormat{ReplyLayout::WriteStatus,
                                                     kWriteStatusDataLength, kWriteStatusFields};

// The reply format of a data length of the current counters (water/gas or heat), or null for a
// length no such layout has.
const ReplyFormat* ReplyFormatOf(std::uint8_t dataLength);

// The format of a read-data reply (control 0x81) with the identifier `id` (in either byte order)
// and `dataLength`: the current counters, a history month, the price table, a day or the
// purchase record; null for an identifier or a length no layout has.
const ReplyFormat* ReadReplyFormatOf(const DataIdentifier& id, std::uint8_t dataLength);

// The format of a read-data reply with the identifier `id` (in either byte order) when it is the
// same for every meter type: a history month, the price table, a day or the purchase record; null
// for the current counters (water/gas or heat by the meter, see ReplyFormatOf) and for an
// identifier no layout has.
const ReplyFormat* FixedReadReplyFormatOf(const DataIdentifier& id);

// Whether a format is one of the current counters (90 1F), the replies DecodeMeterData decodes.
constexpr bool IsCurrentData(const ReplyFormat& format) {
    return format.Layout == ReplyLayout::Water || format.Layout == ReplyLayout::Heat;
}

// The name of a layout in machine-readable output: "water", "heat", "history", "price_table",
// "settlement_day", "reading_day", "purchase", "key_version", "write_status"; empty for None.
std::string_view LayoutName(ReplyLayout layout);

// Writes the message head shared by request and reply into `message` (from its start byte):
// start byte, type, address, control code, data length and identifier. The sequence number is
// left to the caller.
void WriteMessageHead(std::span<std::uint8_t> message, std::uint8_t typeCode,
                      const LineAddress& address, std::uint8_t controlCode, std::uint8_t dataLength,
                      const DataIdentifier& dataId);

// Writes the checksum of everything before it and the end byte after the data of `message`.
void WriteMessageTail(std::span<std::uint8_t> message, std::uint8_t dataLength);

} // namespace mbus::protocol
