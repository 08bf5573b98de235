// A small parser for "--name value", "--name=value" and "--flag" options followed by plain
// arguments, with one-line error messages for the `mbus` subcommands.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/command_io.h"

namespace mbus::tools {

class OptionParser {
public:
    // `valued` options take a value, `flags` do not; "--help" is always known.
    OptionParser(std::set<std::string> valued, std::set<std::string> flags);

    // Parses the arguments; false with Error() set on an unknown option or a missing value.
    bool Parse(CommandArgs args);

    bool Has(const std::string& name) const;
    // The last value given for the option, or none.
    std::optional<std::string> Value(const std::string& name) const;
    // Every value given for a repeatable option, in order.
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return Positional_; }
    const std::string& Error() const { return Error_; }

private:
    std::set<std::string> Valued_;
    std::set<std::string> Flags_;
    std::multimap<std::string, std::string> Values_;
    std::set<std::string> Seen_;
    std::vector<std::string> Positional_;
    std::string Error_;
};

} // namespace mbus::tools
