#include "tools/request_options.h"

#include "protocol/meter_type.h"
#include "tools/option_parser.h"
#include "tools/quoted_argument.h"
#include "util/string_c.h"

#include <cstdio>

namespace mbus::tools {

std::optional<std::array<std::uint8_t, 7>> ParseMeterAddress(std::string_view text,
                                                             std::string& error) {
    const std::string bytes = util::HexToBytes(text);
    if (bytes.size() != 7) {
        error = "the address " + QuotedArgument(text) + " gives " + std::to_string(bytes.size()) +
                (bytes.size() == 1 ? " byte" : " bytes") +
                "; it must give exactly 7 (14 hex digits)";
        return std::nullopt;
    }
    std::array<std::uint8_t, 7> address;
    std::copy(bytes.begin(), bytes.end(), address.begin());
    return address;
}

std::optional<int> ParseMeterType(std::string_view text, std::string& error) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
        const int position = text[0] - '0';
        if (protocol::MeterTypeCode(position))
            return position;
    } else if (const auto position = protocol::MeterTypePosition(text)) {
        return position;
    }
    error = "unknown meter type " + QuotedArgument(text) + "; use a position 0-7 or an item text";
    return std::nullopt;
}

std::optional<std::array<std::uint8_t, 2>> ParseDataId(std::string_view text, std::string& error) {
    const std::string bytes = util::HexToBytes(text);
    if (bytes.size() < 2) {
        error = "the data identifier " + QuotedArgument(text) + " must give two bytes";
        return std::nullopt;
    }
    return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(bytes[0]),
                                       static_cast<std::uint8_t>(bytes[1])};
}

std::optional<protocol::ReadFrameBuffer> RequestOfOptions(const OptionParser& options,
                                                          std::string& error) {
    const auto address = ParseMeterAddress(AddressOption(options), error);
    const auto type =
        address ? ParseMeterType(options.Value("--type").value_or(std::string(kDefaultType)), error)
                : std::nullopt;
    const auto dataId =
        type ? ParseDataId(options.Value("--di").value_or(std::string(kDefaultDataId)), error)
             : std::nullopt;
    if (!dataId)
        return std::nullopt;
    protocol::ReadFrameBuffer frame{};
    protocol::BuildReadFrame(frame, *address, *protocol::MeterTypeCode(*type),
                             protocol::kControlRead, *dataId);
    return frame;
}

std::string AddressOption(const OptionParser& options) {
    return options.Value("--addr").value_or(std::string(kDefaultAddress));
}

std::string MeterTypeHelp() {
    std::string help;
    const auto types = protocol::MeterTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", types[i].Code);
        help += "      " + std::to_string(i) + "  " + std::string(types[i].ItemText) + "  (" +
                code + ")\n";
    }
    return help;
}

} // namespace mbus::tools
