// The results of reading a list of meters one after the other, round after round: for each meter
// how many of its reads were good and how the others failed, and the count over all of them.
// `mbus read --meters` sums a run up from it; the console's round keeps one per list.
#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "protocol/exchange.h"

namespace mbus::protocol {

class RoundTally {
public:
    struct MeterResults {
        std::size_t Good = 0;
        std::size_t Failed = 0;
        std::map<Verdict, std::size_t> Failures; // how often each failure came
    };

    // For a list of `meters` meters, by their position in it.
    explicit RoundTally(std::size_t meters) : Meters_(meters) {}

    // A read of the meter at `meter` settled with `verdict` (a late reply is no new read: its
    // request settled without a reply before).
    void Add(std::size_t meter, Verdict verdict);

    std::size_t Reads() const { return Reads_; }
    std::size_t GoodReads() const { return GoodReads_; }
    const std::vector<MeterResults>& Meters() const { return Meters_; }

private:
    std::vector<MeterResults> Meters_;
    std::size_t Reads_ = 0;
    std::size_t GoodReads_ = 0;
};

} // namespace mbus::protocol
