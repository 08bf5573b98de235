#include "platform/scoped_port_link.h"

namespace mbus::platform {

// Windows names its ports itself: a device path cannot be given a COM number for a run.
struct ScopedPortLink::Registration {};

ScopedPortLink::ScopedPortLink() = default;

ScopedPortLink::~ScopedPortLink() = default;

bool ScopedPortLink::Register(const std::string& devicePath, std::optional<int> /*wanted*/,
                              std::string& error) {
    error = "'" + devicePath + "' is no COM name: Windows names its serial ports COM<n> itself";
    return false;
}

} // namespace mbus::platform
