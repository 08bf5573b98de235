#include "tools/option_parser.h"

#include "tools/quoted_argument.h"

#include <ostream>

namespace mbus::tools {

OptionParser::OptionParser(std::set<std::string> valued, std::set<std::string> flags)
    : Valued_(std::move(valued)), Flags_(std::move(flags)) {
    Flags_.insert("--help");
}

bool OptionParser::Parse(CommandArgs args) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            Positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (Flags_.count(name)) {
            if (eq != std::string::npos) {
                Error_ = "option " + name + " takes no value";
                return false;
            }
            Seen_.insert(name);
            continue;
        }
        if (!Valued_.count(name)) {
            Error_ = "unknown option " + ShownText(name);
            return false;
        }
        if (eq != std::string::npos) {
            Values_.emplace(name, arg.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            Values_.emplace(name, args[++i]);
        } else {
            Error_ = "option " + name + " needs a value";
            return false;
        }
        Seen_.insert(name);
    }
    return true;
}

std::optional<int> OptionParser::Open(std::string_view command, CommandArgs args, CommandIo io,
                                      void (*printHelp)(std::ostream&), PlainArguments plain) {
    if (!Parse(args))
        return UsageError(io.Err, command, Error_);
    if (Has("--help")) {
        printHelp(io.Out);
        return kExitOk;
    }
    if (plain == PlainArguments::Refused && !Positional_.empty())
        return UsageError(io.Err, command,
                          "unexpected argument " + QuotedArgument(Positional_.front()));
    return std::nullopt;
}

bool OptionParser::Has(const std::string& name) const {
    return Seen_.count(name) != 0;
}

std::optional<std::string> OptionParser::Value(const std::string& name) const {
    auto [first, last] = Values_.equal_range(name);
    if (first == last)
        return std::nullopt;
    return std::prev(last)->second;
}

std::vector<std::string> OptionParser::Values(const std::string& name) const {
    std::vector<std::string> values;
    auto [first, last] = Values_.equal_range(name);
    for (auto it = first; it != last; ++it)
        values.push_back(it->second);
    return values;
}

int UsageError(std::ostream& err, std::string_view command, std::string_view message) {
    err << "mbus " << command << ": " << message << "\n";
    return kExitUsage;
}

} // namespace mbus::tools
