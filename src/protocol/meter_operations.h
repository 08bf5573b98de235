// The operations of a meter at the bench, each as the request that asks for it: read the current
// counters, a past month's settlement-day counter, the price table, the settlement and reading
// days, the purchase record and the key version; open or close the valve, set the clock, the
// days and the price table, record a purchase, and give the meter a new address. The identifier
// goes in the byte order the caller picks. `mbus` subcommands and the console build what they
// send from these (then BuildRequest puts them on the line); the reply that answers is a
// ParsedReply (see Answers).
#pragma once

#include <array>
#include <cstdint>

#include "protocol/frame_layout.h"
#include "protocol/meter_clock.h"
#include "protocol/request.h"

namespace mbus::protocol {

// The meter a request goes to and how: its type code and address (least significant byte
// first, as on the line; AA..AA for whichever meter hears it), the identifier's byte order and
// the sequence number that the reply echoes.
struct MeterTarget {
    std::uint8_t TypeCode = 0x10;
    LineAddress Address{kWildcardByte, kWildcardByte, kWildcardByte, kWildcardByte,
                        kWildcardByte, kWildcardByte, kWildcardByte};
    DataIdOrder Order = DataIdOrder::HighFirst;
    std::uint8_t Sequence = 0;
};

enum class ValveAction { Open, Close };
enum class MeterDay { Settlement, Reading };

// The price table: three prices (元/m³ × 100, 4 + 2 digits) and the two volume steps between
// them (whole m³, 6 digits).
struct PriceTable {
    std::array<std::uint32_t, 3> Prices{};
    std::array<std::uint32_t, 2> Steps{};
};

// A purchase: its sequence number (2 digits) and amount (元 × 100, 6 + 2 digits).
struct PurchaseOrder {
    std::uint8_t Sequence = 0;
    std::uint32_t Amount = 0;
};

// Read data (control 0x01) of the identifier as written (90 1F, D1 20 .. D1 2B, 81 02 .. 81 05).
ReadRequest ReadDataRequest(const MeterTarget& meter, const DataIdentifier& written);
// The settlement-day counter of `monthsAgo` (1..12) months ago: D1 20 .. D1 2B.
ReadRequest ReadHistoryRequest(const MeterTarget& meter, int monthsAgo);
// Read key version: control 0x09, identifier 81 06.
ReadRequest ReadKeyVersionRequest(const MeterTarget& meter);

// Writes (control 0x04). The valve, A0 17: 0x55 open, 0x99 close.
ReadRequest ValveRequest(const MeterTarget& meter, ValveAction action);
// The clock, A0 15: ss mm hh DD MM YY YY in BCD, seconds first.
ReadRequest SetClockRequest(const MeterTarget& meter, const MeterClock& clock);
// The settlement day (A0 11) or the reading day (A0 12): the day of the month, one BCD byte.
ReadRequest SetDayRequest(const MeterTarget& meter, MeterDay day, int dayOfMonth);
// The price table, A0 10: as the read layout (price, step, price, step, price; 3 BCD bytes each).
ReadRequest SetPriceTableRequest(const MeterTarget& meter, const PriceTable& table);
// A purchase, A0 13: its sequence number (1 BCD byte) and amount (4 BCD bytes).
ReadRequest PurchaseRequest(const MeterTarget& meter, const PurchaseOrder& purchase);

// Write address: control 0x15, identifier A0 18, the new address (least significant byte first)
// as the data. Sent to the meter's current address, or to AA..AA when it is alone on the line.
ReadRequest WriteAddressRequest(const MeterTarget& meter, const LineAddress& newAddress);

} // namespace mbus::protocol
