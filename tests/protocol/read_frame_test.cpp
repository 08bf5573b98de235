// The read-data request: layout, checksum, the untouched sequence number and the caller's address.
#include "protocol/read_frame.h"

#include "protocol/meter_type.h"
#include "util/string_c.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mbus::protocol {
namespace {

using Address = std::array<std::uint8_t, 7>;
using DataId = std::array<std::uint8_t, 2>;

template <std::size_t N> std::array<std::uint8_t, N> FromHex(std::string_view hex) {
    std::array<std::uint8_t, N> bytes{};
    EXPECT_EQ(util::HexToBytes(hex, bytes), N) << hex;
    return bytes;
}

// Builds into `frame` for an address and identifier given as hex text.
void Build(ReadFrameBuffer& frame, std::string_view address, std::uint8_t typeCode,
           std::string_view dataId, std::uint8_t controlCode = kControlRead) {
    BuildReadFrame(frame, FromHex<7>(address), typeCode, controlCode, FromHex<2>(dataId));
}

std::string Render(const ReadFrameBuffer& frame) {
    return util::BytesToHex(frame);
}

TEST(BuildReadFrame, StartUpRequest) {
    ReadFrameBuffer frame{};
    Build(frame, "AA AA AA AA AA AA AA", *MeterTypeCode(0), "1F 90");
    EXPECT_EQ(Render(frame), "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 ");
}

TEST(BuildReadFrame, GasMeterWithReversedIdentifier) {
    ReadFrameBuffer frame{};
    Build(frame, "12 34 56 78 90 12 34", *MeterTypeCode(6), "90 1F");
    EXPECT_EQ(Render(frame), "FE FE 68 30 34 12 90 78 56 34 12 01 03 90 1F 00 35 16 ");
}

TEST(BuildReadFrame, AddressIsReversedAndIdentifierIsNot) {
    ReadFrameBuffer frame{};
    Build(frame, "01 02 03 04 05 06 07", 0x10, "AB CD");
    // The first byte typed lands at offset 10, the last at offset 4.
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(frame[kFrameAddressOffset + i], 7 - i) << i;
    EXPECT_EQ(frame[13], 0xAB);
    EXPECT_EQ(frame[14], 0xCD);
    // The control code is passed through as given.
    Build(frame, "01 02 03 04 05 06 07", 0x10, "AB CD", 0x81);
    EXPECT_EQ(frame[11], 0x81);
}

TEST(BuildReadFrame, ChecksumCoversStartByteToSequenceNumberOnly) {
    // Wake-up bytes and end byte never enter the sum; whatever the inputs, offset 16 is the sum
    // of offsets 2..15 and the fixed bytes are where they belong.
    const std::array<Address, 3> addresses = {FromHex<7>("00 00 00 00 00 00 00"),
                                              FromHex<7>("FF FF FF FF FF FF FF"),
                                              FromHex<7>("12 34 56 78 90 AB CD")};
    for (const auto& address : addresses) {
        for (const auto& type : MeterTypes()) {
            for (const DataId& dataId : {DataId{0x1F, 0x90}, DataId{0x90, 0x1F}, DataId{0, 0}}) {
                ReadFrameBuffer frame{};
                BuildReadFrame(frame, address, type.Code, kControlRead, dataId);
                unsigned sum = 0;
                for (std::size_t i = 2; i <= 15; ++i)
                    sum += frame[i];
                EXPECT_EQ(frame[kFrameChecksumOffset], sum % 256) << Render(frame);
                EXPECT_EQ(frame[0], 0xFE);
                EXPECT_EQ(frame[1], 0xFE);
                EXPECT_EQ(frame[2], 0x68);
                EXPECT_EQ(frame[kFrameTypeOffset], type.Code);
                EXPECT_EQ(frame[12], 0x03);
                EXPECT_EQ(frame[kFrameSequenceOffset], 0x00);
                EXPECT_EQ(frame[17], 0x16);
            }
        }
    }
}

TEST(BuildReadFrame, SequenceNumberIsNeverWrittenButCounted) {
    ReadFrameBuffer frame;
    frame.fill(0x77);
    frame[kFrameSequenceOffset] = 0x05;
    Build(frame, "AA AA AA AA AA AA AA", 0x10, "1F 90");
    // Every other byte is rewritten; the sequence byte keeps its value and enters the sum.
    EXPECT_EQ(Render(frame), "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 05 D6 16 ");
}

TEST(BuildReadFrame, RebuildingOverAnOldFrameRewritesEverythingButTheSequence) {
    ReadFrameBuffer fresh{};
    Build(fresh, "12 34 56 78 90 12 34", 0x30, "90 1F");

    ReadFrameBuffer reused{};
    Build(reused, "FF FF FF FF FF FF FF", 0x40, "EE DD", 0x99);
    Build(reused, "12 34 56 78 90 12 34", 0x30, "90 1F");
    EXPECT_EQ(reused, fresh);

    // Building twice with the same inputs gives the same bytes.
    Build(reused, "12 34 56 78 90 12 34", 0x30, "90 1F");
    EXPECT_EQ(reused, fresh);
}

TEST(BuildReadFrame, ChangingTheTypeTouchesOnlyTypeAndChecksum) {
    const Address address = FromHex<7>("12 34 56 78 90 12 34");
    const DataId dataId = FromHex<2>("1F 90");
    for (const auto& from : MeterTypes()) {
        for (const auto& to : MeterTypes()) {
            ReadFrameBuffer before{};
            BuildReadFrame(before, address, from.Code, kControlRead, dataId);
            ReadFrameBuffer after = before;
            BuildReadFrame(after, address, to.Code, kControlRead, dataId);
            for (std::size_t i = 0; i < kReadFrameSize; ++i) {
                if (i == kFrameTypeOffset || i == kFrameChecksumOffset)
                    continue;
                EXPECT_EQ(after[i], before[i]) << "offset " << i;
            }
            EXPECT_EQ(after[kFrameTypeOffset], to.Code);
            EXPECT_EQ(static_cast<std::uint8_t>(after[kFrameChecksumOffset] - to.Code),
                      static_cast<std::uint8_t>(before[kFrameChecksumOffset] - from.Code));
        }
    }
}

TEST(BuildReadFrame, CallersAddressIsLeftAsItWas) {
    const Address typed = FromHex<7>("01 02 03 04 05 06 07");
    Address address = typed;
    ReadFrameBuffer frame{};
    BuildReadFrame(frame, address, 0x10, kControlRead, FromHex<2>("1F 90"));
    EXPECT_EQ(address, typed);
    // Building again from the same array gives the same frame (it was not reversed in place).
    ReadFrameBuffer again{};
    BuildReadFrame(again, address, 0x10, kControlRead, FromHex<2>("1F 90"));
    EXPECT_EQ(again, frame);
}

} // namespace
} // namespace mbus::protocol
