// COM names, parsed and resolved through the port map the same way on every backend.
#include "platform/port_map.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <utility>

namespace mbus::platform {
namespace {

// Whether `text` starts with `prefix`, letters compared in any case.
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

std::optional<int> PlainPortNumber(std::string_view digits) {
    if (digits.empty() || digits.front() < '0' || digits.front() > '9' ||
        (digits.size() > 1 && digits.front() == '0'))
        return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value > kHighestComNumber)
        return std::nullopt;
    return value;
}

std::optional<int> ComNumberOfName(std::string_view name) {
    if (name.starts_with("\\\\.\\"))
        name.remove_prefix(4);
    if (name.size() < 4 || !StartsWithIgnoringCase(name, "COM"))
        return std::nullopt;
    const auto number = PlainPortNumber(name.substr(3));
    if (!number || *number == 0)
        return std::nullopt;
    return number;
}

std::optional<std::string> ResolveDeviceName(std::string_view name, PortMapNotes* notes) {
    const auto number = ComNumberOfName(name);
    if (!number)
        return std::string(name);
    for (PortMapEntry& entry : ReadPortMap(notes)) {
        if (entry.Number == *number)
            return std::move(entry.DevicePath);
    }
    return std::nullopt;
}

bool LooksLikeComName(std::string_view name) {
    return name.starts_with("\\\\.\\") ||
           (name.find('/') == std::string_view::npos && StartsWithIgnoringCase(name, "COM"));
}

} // namespace mbus::platform
