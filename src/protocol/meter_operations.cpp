#include "protocol/meter_operations.h"

#include "protocol/bcd.h"

namespace mbus::protocol {
namespace {

ReadRequest RequestTo(const MeterTarget& meter, std::uint8_t control,
                      const DataIdentifier& written) {
    ReadRequest request;
    request.Control = control;
    request.TypeCode = meter.TypeCode;
    request.Address = meter.Address;
    request.DataId = InOrder(written, meter.Order);
    request.Sequence = meter.Sequence;
    return request;
}

// Appends `value` as `size` BCD bytes, lowest digits first.
void AppendBcd(std::vector<std::uint8_t>& data, std::uint64_t value, std::size_t size) {
    data.resize(data.size() + size);
    PutBcd(value, std::span<std::uint8_t>(data).last(size));
}

} // namespace

ReadRequest ReadDataRequest(const MeterTarget& meter, const DataIdentifier& written) {
    return RequestTo(meter, kControlRead, written);
}

ReadRequest ReadHistoryRequest(const MeterTarget& meter, int monthsAgo) {
    return ReadDataRequest(meter, HistoryId(monthsAgo));
}

ReadRequest ReadKeyVersionRequest(const MeterTarget& meter) {
    return RequestTo(meter, kControlReadKeyVersion, kKeyVersionId);
}

ReadRequest ValveRequest(const MeterTarget& meter, ValveAction action) {
    ReadRequest request = RequestTo(meter, kControlWrite, kValveId);
    request.Data = {action == ValveAction::Open ? kValveOpen : kValveClose};
    return request;
}

ReadRequest SetClockRequest(const MeterTarget& meter, const MeterClock& clock) {
    ReadRequest request = RequestTo(meter, kControlWrite, kSetClockId);
    request.Data.resize(kClockSize);
    PutClock(clock, std::span<std::uint8_t, kClockSize>(request.Data));
    return request;
}

ReadRequest SetDayRequest(const MeterTarget& meter, MeterDay day, int dayOfMonth) {
    ReadRequest request = RequestTo(
        meter, kControlWrite, day == MeterDay::Settlement ? kSetSettlementDayId : kSetReadingDayId);
    AppendBcd(request.Data, static_cast<std::uint64_t>(dayOfMonth), 1);
    return request;
}

ReadRequest SetPriceTableRequest(const MeterTarget& meter, const PriceTable& table) {
    ReadRequest request = RequestTo(meter, kControlWrite, kSetPriceTableId);
    for (std::size_t step = 0; step < table.Steps.size(); ++step) {
        AppendBcd(request.Data, table.Prices[step], 3);
        AppendBcd(request.Data, table.Steps[step], 3);
    }
    AppendBcd(request.Data, table.Prices.back(), 3);
    return request;
}

ReadRequest PurchaseRequest(const MeterTarget& meter, const PurchaseOrder& purchase) {
    ReadRequest request = RequestTo(meter, kControlWrite, kPurchaseId);
    AppendBcd(request.Data, purchase.Sequence, 1);
    AppendBcd(request.Data, purchase.Amount, 4);
    return request;
}

ReadRequest WriteAddressRequest(const MeterTarget& meter, const LineAddress& newAddress) {
    ReadRequest request = RequestTo(meter, kControlWriteAddress, kWriteAddressId);
    request.Data.assign(newAddress.begin(), newAddress.end());
    return request;
}

} // namespace mbus::protocol
