#include "platform/scoped_port_link.h"

#include "platform/port_map.h"

namespace mbus::platform {
namespace {

// Attempts at the lowest free number when other programs take it first.
constexpr int kAttempts = 16;

} // namespace

ScopedPortLink::~ScopedPortLink() {
    if (Number_ > 0)
        RemovePortLink(Number_, DevicePath_);
}

bool ScopedPortLink::Register(const std::string& devicePath, std::optional<int> wanted,
                              std::string& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int number = wanted ? *wanted : LowestFreeComNumber();
        if (AddPortLink(number, devicePath, error)) {
            DevicePath_ = devicePath;
            Number_ = number;
            return true;
        }
        error =
            "cannot register COM" + std::to_string(number) + " for " + devicePath + ": " + error;
        if (wanted)
            return false;
    }
    return false;
}

} // namespace mbus::platform
