#include "tools/port_target.h"

#include "platform/port_map.h"

#include <filesystem>

namespace mbus::tools {
namespace fs = std::filesystem;
namespace {

// Attempts at registering a link when other programs take the free number first.
constexpr int kLinkAttempts = 16;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 32) : text[i];
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Whether the text looks like a COM name, so a bad one is reported instead of being taken for a
// file of that name.
bool LooksLikeComName(std::string_view text) {
    return text.starts_with("\\\\.\\") ||
           (text.find('/') == std::string_view::npos && StartsWithIgnoringCase(text, "COM"));
}

std::string CanonicalOrSelf(const fs::path& path) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    return ec ? path.string() : canonical.string();
}

// The COM number the port map gives the device, or 0.
int MappedNumber(const fs::path& device) {
    const std::string wanted = CanonicalOrSelf(device);
    for (const platform::PortMapEntry& entry : platform::ReadPortMap()) {
        if (CanonicalOrSelf(entry.DevicePath) == wanted)
            return entry.Number;
    }
    return 0;
}

} // namespace

PortTarget::~PortTarget() {
    if (!LinkedDevice_.empty())
        platform::RemovePortLink(ComNumber_, LinkedDevice_);
}

bool PortTarget::Select(const std::string& text, std::string& error) {
    if (const auto number = platform::ComNumberOfName(text)) {
        ComNumber_ = static_cast<std::uint16_t>(*number);
        return true;
    }
    if (text.empty() || LooksLikeComName(text)) {
        error = "'" + text + "' names no port: use COM1 to COM65535 or a device path";
        return false;
    }

    std::error_code ec;
    const fs::path device = fs::absolute(text, ec);
    if (ec) {
        error = "cannot use the device path '" + text + "': " + ec.message();
        return false;
    }
    if (const int mapped = MappedNumber(device)) {
        ComNumber_ = static_cast<std::uint16_t>(mapped);
        return true;
    }
    // A link to a device that does not exist is made all the same: the map skips it, and the
    // component's open reports the missing port as it does for any unmapped COM number.
    for (int attempt = 0; attempt < kLinkAttempts; ++attempt) {
        const int number = platform::LowestFreeComNumber();
        if (platform::AddPortLink(number, device.string(), error)) {
            ComNumber_ = static_cast<std::uint16_t>(number);
            LinkedDevice_ = device.string();
            return true;
        }
        error = "cannot register COM" + std::to_string(number) + " for " + device.string() + ": " +
                error;
    }
    return false;
}

} // namespace mbus::tools
