// Reading a meter list file (protocol/meter_list.h) for `mbus read --meters` and
// `mbus sim --meters`: every bad line is said on standard error, one line each, naming the file,
// the line and the field, so a list can be put right in one go.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/meter_list.h"

namespace mbus::tools {

// The meters of the list at `path`; none when the file cannot be read, is larger than
// kLongestMeterList, holds a bad line or no meter at all, each problem said on `err` as
// "mbus <command>: <path> line <n>: <field> '<text>' <problem>" (the first twenty, then how many
// more).
std::optional<std::vector<protocol::ListedMeter>>
ReadMeterListFile(std::string_view command, const std::string& path, std::ostream& err);

// The largest list file read: far more than the 250 meters one line carries.
inline constexpr std::size_t kLongestMeterList = 1024 * 1024;

} // namespace mbus::tools
