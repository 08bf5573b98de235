// What the meter operations window shows of a settled request: a word for what became of it
// ("正确", "已执行" for a write the meter accepted, "表拒绝", "无应答", "迟到应答", ...) and the
// answer's labelled values with their units and raw bytes: the fields of a read, the status of
// an accepted write (with the valve and battery in words), the address and type of an address
// reply, or the status bytes of a refusal.
#pragma once

#include <QString>

#include <vector>

#include "protocol/exchange.h"

namespace mbus::console {

struct ResultLine {
    QString Item;  // the field's label ("上1月结算日累积量", "状态字节", ...)
    QString Value; // the value with its unit ("000010.00 m³")
    QString Raw;   // the value's bytes as received, hex digits in line order
};

struct OperationResult {
    QString Outcome;
    bool Failed = false; // the request got no sound answer, or a refusal
    std::vector<ResultLine> Lines;
};

OperationResult ResultOf(const protocol::Exchange& exchange);

} // namespace mbus::console
