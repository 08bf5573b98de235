// Reading the request options that several `mbus` subcommands share: the meter address, the
// meter type (a type list position or its exact item text) and the data identifier.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mbus::tools {

// The seven address bytes of a hex text, or none (with `error` set) when it gives another count.
std::optional<std::array<std::uint8_t, 7>> ParseMeterAddress(std::string_view text,
                                                             std::string& error);

// The type list position of "0".."7" or of an exact item text, or none with `error` set.
std::optional<int> ParseMeterType(std::string_view text, std::string& error);

// The first two bytes of an identifier text, or none with `error` set when it gives fewer.
std::optional<std::array<std::uint8_t, 2>> ParseDataId(std::string_view text, std::string& error);

// The help lines describing the type option's values.
std::string MeterTypeHelp();

} // namespace mbus::tools
