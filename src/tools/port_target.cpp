#include "tools/port_target.h"

#include "platform/port_map.h"
#include "tools/quoted_argument.h"

#include <filesystem>

namespace mbus::tools {

bool PortTarget::Select(const std::string& text, std::string& error) {
    if (const auto number = platform::ComNumberOfName(text)) {
        ComNumber_ = static_cast<std::uint16_t>(*number);
        return true;
    }
    if (text.empty() || platform::LooksLikeComName(text)) {
        error = QuotedArgument(text) + " names no port: use COM1 to COM65535 or a device path";
        return false;
    }

    std::error_code ec;
    const std::string device = std::filesystem::absolute(text, ec).string();
    if (ec) {
        error = "cannot use the device path " + QuotedArgument(text) + ": " + ec.message();
        return false;
    }
    if (const auto mapped = platform::MappedComNumber(device)) {
        ComNumber_ = static_cast<std::uint16_t>(*mapped);
        return true;
    }
    // A link to a device that does not exist is made all the same: the map skips it, and the
    // component's open reports the missing port as it does for any unmapped COM number.
    if (!Link_.Register(device, std::nullopt, error))
        return false;
    ComNumber_ = static_cast<std::uint16_t>(Link_.Number());
    return true;
}

} // namespace mbus::tools
