// The port that `mbus read --port` names, as the COM number the port component opens. "COM<n>"
// and "\\.\COM<n>" are taken as they are. A device path goes through the COM number the port map
// already gives that device; a device the map does not know gets a COM link of its own for the
// run (the lowest free number), removed again when the object goes. Either way the component
// opens a COM number, as the console does, and reports a missing device itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/scoped_port_link.h"

namespace mbus::tools {

class PortTarget {
public:
    // Chooses the COM number for `text`; false with `error` set when the text is a malformed COM
    // name or no link can be made for a device path. Call once.
    bool Select(const std::string& text, std::string& error);

    std::uint16_t ComNumber() const { return ComNumber_; }

private:
    std::uint16_t ComNumber_ = 0;
    platform::ScopedPortLink Link_; // made for a device the map does not know
};

} // namespace mbus::tools
