#include "serial/trigger.h"

#include <cctype>

namespace mbus::serial {

bool MatchStep(std::array<std::int32_t, kMaxDataTriggerLength>& counters, std::uint8_t byte,
               std::int32_t length, bool ignoreCase, const std::array<std::uint8_t, 24>& pattern) {
    if (length <= 0 || length > kMaxDataTriggerLength)
        return false;
    if (ignoreCase)
        byte = static_cast<std::uint8_t>(std::toupper(byte));

    bool process = true;
    bool started = false;
    for (std::int32_t i = 0; i < length; ++i) {
        auto& counter = counters[static_cast<std::size_t>(i)];
        if (process) {
            const std::int32_t p = counter;
            if (pattern[static_cast<std::size_t>(p)] == byte) {
                if (p == length - 1) {
                    counters.fill(0);
                    return true;
                }
                counter = p + 1;
            } else if (pattern[0] == byte) {
                started = true;
                counter = 1;
            } else {
                counter = 0;
            }
        }
        if (counter == 1)
            started = true;
        if (i == length - 1) {
            process = false;
        } else {
            const bool nextBusy = counters[static_cast<std::size_t>(i + 1)] != 0;
            process = started ? nextBusy : (nextBusy || pattern[0] == byte);
        }
    }
    return false;
}

} // namespace mbus::serial
