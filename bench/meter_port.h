// A simulated meter for the benchmarks that drive the port component: a pseudo-terminal
// registered as COM<n> in a throw-away port map without discovery (no real port is listed or
// opened), and the meter answering on its master side in a thread of its own until the object
// goes.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "platform/port_map.h"
#include "platform/pseudo_terminal.h"
#include "sim/meter_line.h"
#include "support/temp_config_home.h"

namespace mbus::bench {

class MeterPort {
public:
    // Throws std::runtime_error when the line cannot be made or registered.
    MeterPort(int comNumber, sim::SimulatorOptions options) {
        std::string error;
        if (!Line_.Open(platform::PseudoTerminal::SlaveHold::Held, error) ||
            !platform::AddPortLink(comNumber, Line_.SlavePath(), error))
            throw std::runtime_error(error);
        Meter_.emplace(Line_, std::move(options));
    }

    const sim::MeterLineThread& Meter() const { return *Meter_; }

private:
    const testing::TempConfigHome Home_;
    platform::PseudoTerminal Line_;
    std::optional<sim::MeterLineThread> Meter_; // goes first: it uses the line
};

} // namespace mbus::bench
