#include "protocol/round_tally.h"

namespace mbus::protocol {

void RoundTally::Add(std::size_t meter, Verdict verdict) {
    if (meter >= Meters_.size())
        return;
    MeterResults& results = Meters_[meter];
    ++Reads_;
    if (!Failed(verdict)) {
        ++results.Good;
        ++GoodReads_;
        return;
    }
    ++results.Failed;
    ++results.Failures[verdict];
}

} // namespace mbus::protocol
