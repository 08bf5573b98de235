#include "platform/scoped_port_link.h"

#include "platform/port_map.h"
#include "platform/posix/port_link_owner.h"

#include <filesystem>

namespace mbus::platform {
namespace {

// Attempts at the lowest free number when other programs take it first.
constexpr int kAttempts = 16;

} // namespace

struct ScopedPortLink::Registration {
    posix::PortLinkOwner Owner;
};

ScopedPortLink::ScopedPortLink() = default;

ScopedPortLink::~ScopedPortLink() = default; // the owner removes link and mark

bool ScopedPortLink::Register(const std::string& devicePath, std::optional<int> wanted,
                              std::string& error) {
    const std::string folder = PortsDirectory();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot register a COM link for " + devicePath + ": " + ec.message();
        return false;
    }
    auto registration = std::make_unique<Registration>();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int number = wanted ? *wanted : LowestFreeComNumber();
        std::string reason;
        if (registration->Owner.Register(folder, number, devicePath, reason)) {
            Registration_ = std::move(registration);
            Number_ = number;
            return true;
        }
        error =
            "cannot register COM" + std::to_string(number) + " for " + devicePath + ": " + reason;
        if (wanted)
            return false;
    }
    return false;
}

} // namespace mbus::platform
