#include "tools/line_options.h"

#include "tools/option_parser.h"
#include "tools/quoted_argument.h"
#include "util/integer_text.h"

#include <utility>

namespace mbus::tools {
namespace {

// The parity --parity names, or none with `error` set for another name.
std::optional<serial::TParity> ParityOption(const OptionParser& options, std::string& error) {
    constexpr std::pair<std::string_view, serial::TParity> kNames[] = {
        {"none", serial::pNone}, {"odd", serial::pOdd},     {"even", serial::pEven},
        {"mark", serial::pMark}, {"space", serial::pSpace},
    };
    const std::string name = options.Value("--parity").value_or("none");
    for (const auto& [text, parity] : kNames) {
        if (name == text)
            return parity;
    }
    error = "option --parity takes none, odd, even, mark or space, not " + QuotedArgument(name);
    return std::nullopt;
}

} // namespace

std::optional<std::int32_t> NumberOption(const OptionParser& options, const char* name,
                                         std::int32_t low, std::int32_t high, std::int32_t fallback,
                                         std::string& error) {
    const auto text = options.Value(name);
    if (!text)
        return fallback;
    const auto value = util::TryStrToInt(*text);
    if (!value || *value < low || *value > high) {
        error = std::string("option ") + name + " takes a number from " + std::to_string(low) +
                " to " + std::to_string(high) + ", not " + QuotedArgument(*text);
        return std::nullopt;
    }
    return value;
}

std::optional<std::chrono::milliseconds>
MillisecondsOption(const OptionParser& options, const char* name, std::int32_t low,
                   std::int32_t high, std::int32_t fallback, std::string& error) {
    const auto value = NumberOption(options, name, low, high, fallback, error);
    if (!value)
        return std::nullopt;
    return std::chrono::milliseconds(*value);
}

std::int64_t Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

std::string PortOptionsHelp() {
    return "  --port COM<n>|DEVICE  the port: a COM name of the port map (see `mbus ports`), or\n"
           "                        a device path such as /dev/ttyUSB0, which is opened through\n"
           "                        its COM number or, when the map has none, through a COM\n"
           "                        link registered for the run and removed afterwards\n"
           "  --baud N              bits per second; default 2400\n"
           "  --parity NAME         none, odd, even, mark or space; default none\n";
}

bool ReadLineOptions(const OptionParser& options, LineSettings& line, std::string& error) {
    const auto parity = ParityOption(options, error);
    if (!parity)
        return false;
    const auto baud = NumberOption(options, "--baud", 1, INT32_MAX, 2400, error);
    if (!baud)
        return false;
    line.Parity = *parity;
    line.Baud = *baud;
    return true;
}

bool ReadPortOptions(const OptionParser& options, std::string& port, LineSettings& line,
                     std::string& error) {
    const auto value = options.Value("--port");
    if (!value) {
        error = "option --port is required";
        return false;
    }
    if (!ReadLineOptions(options, line, error))
        return false;
    port = *value;
    return true;
}

} // namespace mbus::tools
