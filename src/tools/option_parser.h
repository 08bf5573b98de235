// A small parser for "--name value", "--name=value" and "--flag" options followed by plain
// arguments, with one-line error messages, and the opening that every `mbus` subcommand shares.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/command_io.h"

namespace mbus::tools {

class OptionParser {
public:
    // `valued` options take a value, `flags` do not; "--help" is always known.
    OptionParser(std::set<std::string> valued, std::set<std::string> flags);

    // Parses the arguments; false with Error() set on an unknown option or a missing value.
    bool Parse(CommandArgs args);

    enum class PlainArguments { Refused, Taken };

    // The opening of `mbus <command>`: parses `args`; "--help" prints the command's help on
    // standard output and gives kExitOk; an option error, or a plain argument where the command
    // takes none, prints "mbus <command>: <message>" on standard error and gives kExitUsage.
    // None when the command goes on.
    std::optional<int> Open(std::string_view command, CommandArgs args, CommandIo io,
                            void (*printHelp)(std::ostream&),
                            PlainArguments plain = PlainArguments::Refused);

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

// Prints "mbus <command>: <message>" as one line on `err` and gives kExitUsage.
int UsageError(std::ostream& err, std::string_view command, std::string_view message);

// The whole of a subcommand that takes options only: opens `options` on `args` (help, option
// errors), reads them into Settings with `read` (false with the error set: a usage error) and
// runs `run` with them.
template <class Settings>
int RunSubcommand(std::string_view command, OptionParser options, CommandArgs args, CommandIo io,
                  void (*printHelp)(std::ostream&),
                  bool (*read)(const OptionParser&, Settings&, std::string&),
                  int (*run)(const Settings&, CommandIo)) {
    if (const auto done = options.Open(command, args, io, printHelp))
        return *done;
    Settings settings;
    std::string error;
    return read(options, settings, error) ? run(settings, io) : UsageError(io.Err, command, error);
}

} // namespace mbus::tools
