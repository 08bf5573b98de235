// The byte layout of the household meter protocol's read-data and read-address exchanges, in one
// place: the bytes that frame a message, the control codes and data lengths, where each header
// byte stands, and the field tables of the water/gas and heat replies. The request builder, the
// reply decoder, the frame check and the simulated meter's reply builder all read it from here.
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
inline constexpr std::uint8_t kControlRead = 0x01;             // read-data request
inline constexpr std::uint8_t kControlReadReply = 0x81;        // its reply
inline constexpr std::uint8_t kControlReadAddress = 0x03;      // read-address request
inline constexpr std::uint8_t kControlReadAddressReply = 0x83; // its reply

// The type and address byte that stands for any meter: a request to the address AA..AA (or of
// type AA) is answered by whichever meter hears it.
inline constexpr std::uint8_t kWildcardByte = 0xAA;

// Data lengths: the bytes from the data identifier to the last data byte.
inline constexpr std::uint8_t kRequestDataLength = 0x03; // identifier and sequence number
inline constexpr std::uint8_t kWaterDataLength = 0x16;   // reply of water and gas meters
inline constexpr std::uint8_t kHeatDataLength = 0x2E;    // reply of heat meters
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
    Status    // the two status bytes
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

enum class ReplyLayout { None, Water, Heat };

struct ReplyFormat {
    ReplyLayout Layout;
    std::uint8_t DataLength;
    std::span<const ReplyField> Fields; // in the order of the decoded line
};

inline constexpr ReplyFormat kWaterReplyFormat{ReplyLayout::Water, kWaterDataLength, kWaterFields};
inline constexpr ReplyFormat kHeatReplyFormat{ReplyLayout::Heat, kHeatDataLength, kHeatFields};

// The reply format of a data length, or null for a length no layout has.
const ReplyFormat* ReplyFormatOf(std::uint8_t dataLength);

// Writes the message head shared by request and reply into `message` (from its start byte):
// start byte, type, address, control code, data length and identifier. The sequence number is
// left to the caller.
void WriteMessageHead(std::span<std::uint8_t> message, std::uint8_t typeCode,
                      const LineAddress& address, std::uint8_t controlCode, std::uint8_t dataLength,
                      const DataIdentifier& dataId);

// Writes the checksum of everything before it and the end byte after the data of `message`.
void WriteMessageTail(std::span<std::uint8_t> message, std::uint8_t dataLength);

} // namespace mbus::protocol
