// Reading the request options that several `mbus` subcommands share: the meter address, the
// meter type (a type list position or its exact item text) and the data identifier, with their
// defaults, and the read-data request they make.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/read_frame.h"

namespace mbus::tools {

class OptionParser;

// The defaults of --addr, --type and --di: the request the console shows at start-up.
inline constexpr std::string_view kDefaultAddress = "AA AA AA AA AA AA AA";
inline constexpr std::string_view kDefaultType = "0";
inline constexpr std::string_view kDefaultDataId = "1F 90";

// The seven address bytes of a hex text, or none (with `error` set) when it gives another count.
std::optional<std::array<std::uint8_t, 7>> ParseMeterAddress(std::string_view text,
                                                             std::string& error);

// The type list position of "0".."7" or of an exact item text, or none with `error` set.
std::optional<int> ParseMeterType(std::string_view text, std::string& error);

// The first two bytes of an identifier text, or none with `error` set when it gives fewer.
std::optional<std::array<std::uint8_t, 2>> ParseDataId(std::string_view text, std::string& error);

// The request the console would put into its command field for the --addr, --type and --di
// options (their defaults where absent), or none with `error` set.
std::optional<protocol::ReadFrameBuffer> RequestOfOptions(const OptionParser& options,
                                                          std::string& error);

// The text of --addr, or the default address.
std::string AddressOption(const OptionParser& options);

// The help lines describing the type option's values.
std::string MeterTypeHelp();

} // namespace mbus::tools
