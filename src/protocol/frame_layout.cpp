#include "protocol/frame_layout.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {
namespace {

// The fields of a layout follow each other without a gap from the sequence number to the
// checksum, each small enough for the decoder's scratch buffer and split on a byte boundary.
constexpr bool FieldsFillTheData(std::span<const ReplyField> fields, std::uint8_t dataLength) {
    std::size_t next = kFieldsAfterControl;
    for (const ReplyField& field : fields) {
        if (field.Offset != next || field.Size > kMaxFieldSize || field.Decimals % 2 != 0 ||
            field.Decimals > 2 * field.Size)
            return false;
        next = field.End();
    }
    return next == ChecksumAt(dataLength) - kControlAt;
}

// The status closes every layout: two bytes, shown as received.
constexpr bool StatusComesLast(std::span<const ReplyField> fields) {
    for (const ReplyField& field : fields.first(fields.size() - 1)) {
        if (field.Kind == FieldKind::Status)
            return false;
    }
    const ReplyField& last = fields.back();
    return last.Kind == FieldKind::Status && last.Size == 2 && last.Order == ByteOrder::AsReceived;
}

constexpr bool FormatFillsTheData(const ReplyFormat& format) {
    return FieldsFillTheData(format.Fields, format.DataLength);
}

static_assert(FieldsFillTheData(kWaterFields, kWaterDataLength));
static_assert(StatusComesLast(kWaterFields) && StatusComesLast(kHeatFields));
static_assert(FieldsFillTheData(kHeatFields, kHeatDataLength));
static_assert(kReadFrameSize == 18 && kFrameChecksumOffset == 16);
static_assert(FormatFillsTheData(kPriceTableReplyFormat) &&
              FormatFillsTheData(kSettlementDayReplyFormat) &&
              FormatFillsTheData(kReadingDayReplyFormat) &&
              FormatFillsTheData(kPurchaseReplyFormat) && StatusComesLast(kPurchaseFields) &&
              FormatFillsTheData(kKeyVersionReplyFormat) &&
              FormatFillsTheData(kWriteStatusReplyFormat) && StatusComesLast(kWriteStatusFields));
static_assert([] {
    for (const ReplyFormat& format : kHistoryReplyFormats) {
        if (!FormatFillsTheData(format))
            return false;
    }
    return true;
}());
static_assert(HistoryId(12) == DataIdentifier{0xD1, 0x2B});

} // namespace

std::string AddressText(const LineAddress& address) {
    LineAddress typed = address;
    util::ReverseBytes(typed);
    return util::RemoveSpaces(util::BytesToHex(typed));
}

const ReplyFormat* ReplyFormatOf(std::uint8_t dataLength) {
    switch (dataLength) {
    case kWaterDataLength:
        return &kWaterReplyFormat;
    case kHeatDataLength:
        return &kHeatReplyFormat;
    default:
        return nullptr;
    }
}

int HistoryMonthOf(const DataIdentifier& id) {
    for (int month = 1; month <= kHistoryMonths; ++month) {
        if (SameIdentifier(id, HistoryId(month)))
            return month;
    }
    return 0;
}

const ReplyFormat* ReadReplyFormatOf(const DataIdentifier& id, std::uint8_t dataLength) {
    if (SameIdentifier(id, kCurrentDataId))
        return ReplyFormatOf(dataLength);
    const ReplyFormat* format = FixedReadReplyFormatOf(id);
    return format && format->DataLength == dataLength ? format : nullptr;
}

const ReplyFormat* FixedReadReplyFormatOf(const DataIdentifier& id) {
    if (const int month = HistoryMonthOf(id))
        return &kHistoryReplyFormats[static_cast<std::size_t>(month - 1)];
    if (SameIdentifier(id, kPriceTableId))
        return &kPriceTableReplyFormat;
    if (SameIdentifier(id, kSettlementDayId))
        return &kSettlementDayReplyFormat;
    if (SameIdentifier(id, kReadingDayId))
        return &kReadingDayReplyFormat;
    if (SameIdentifier(id, kPurchaseRecordId))
        return &kPurchaseReplyFormat;
    return nullptr;
}

std::string_view LayoutName(ReplyLayout layout) {
    switch (layout) {
    case ReplyLayout::None:
        return {};
    case ReplyLayout::Water:
        return "water";
    case ReplyLayout::Heat:
        return "heat";
    case ReplyLayout::History:
        return "history";
    case ReplyLayout::PriceTable:
        return "price_table";
    case ReplyLayout::SettlementDay:
        return "settlement_day";
    case ReplyLayout::ReadingDay:
        return "reading_day";
    case ReplyLayout::Purchase:
        return "purchase";
    case ReplyLayout::KeyVersion:
        return "key_version";
    case ReplyLayout::WriteStatus:
        return "write_status";
    }
    return {};
}

void WriteMessageHead(std::span<std::uint8_t> message, std::uint8_t typeCode,
                      const LineAddress& address, std::uint8_t controlCode, std::uint8_t dataLength,
                      const DataIdentifier& dataId) {
    message[0] = kStartByte;
    message[kTypeAt] = typeCode;
    std::copy(address.begin(), address.end(), message.begin() + kAddressAt);
    message[kControlAt] = controlCode;
    message[kLengthAt] = dataLength;
    std::copy(dataId.begin(), dataId.end(), message.begin() + kDataIdAt);
}

void WriteMessageTail(std::span<std::uint8_t> message, std::uint8_t dataLength) {
    const std::size_t checksumAt = ChecksumAt(dataLength);
    message[checksumAt] = util::SumBytes(message.first(checksumAt));
    message[checksumAt + 1] = kEndByte;
}

} // namespace mbus::protocol
