// Integer conversion of a text against a slow reference: same texts accepted, same values, the
// exact error message, and accepted values read back from their decimal and hex spellings.
#include "fuzz_check.h"
#include "util/integer_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

using mbus::fuzz::Check;
namespace util = mbus::util;

namespace {

bool IsDigit(char c, int base) {
    if (c >= '0' && c <= '9')
        return true;
    return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

// Blanks, sign, prefix, then a non-empty run of digits to the end; the value is judged by its
// significant digits before any arithmetic, so nothing can overflow.
std::optional<std::int32_t> Reference(std::string_view text) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = text.substr(start);
    bool negative = false;
    if (rest.front() == '+' || rest.front() == '-') {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    int base = 10;
    if (rest.starts_with("0x") || rest.starts_with("0X")) {
        base = 16;
        rest.remove_prefix(2);
    } else if (rest.starts_with("$") || rest.starts_with("x") || rest.starts_with("X")) {
        base = 16;
        rest.remove_prefix(1);
    }
    if (rest.empty())
        return std::nullopt;
    for (const char c : rest) {
        if (!IsDigit(c, base))
            return std::nullopt;
    }
    const std::size_t firstSignificant = rest.find_first_not_of('0');
    const std::string digits(firstSignificant == std::string_view::npos
                                 ? std::string_view("0")
                                 : rest.substr(firstSignificant));
    if (digits.size() > (base == 10 ? 10u : 8u))
        return std::nullopt;
    const long long magnitude = std::stoll(digits, nullptr, base);
    const long long value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int32_t> value = util::TryStrToInt(text);
    Check(value == Reference(text), "agrees with the reference");

    try {
        const std::int32_t converted = util::StrToInt(text);
        Check(value && converted == *value, "StrToInt converts what TryStrToInt accepts");
    } catch (const util::ConvertError& e) {
        Check(!value, "StrToInt fails only where TryStrToInt does");
        const std::string expected = "'" + std::string(text) + "' is not a valid integer value";
        const std::string_view message = e.what();
        // what() is a C string and ends at a zero byte of the text.
        if (text.find('\0') == std::string_view::npos)
            Check(message == expected, "the error message names the text");
        else
            Check(std::string_view(expected).starts_with(message),
                  "the error message names the text");
    }

    if (value) {
        const std::string decimal = std::to_string(*value);
        Check(util::TryStrToInt(decimal) == value, "decimal spelling reads back");
        Check(util::TryStrToInt("  " + decimal) == value, "leading blanks are skipped");
        Check(!util::TryStrToInt(decimal + " "), "a trailing blank is an error");
        char hex[16];
        const long long magnitude = *value < 0 ? -static_cast<long long>(*value) : *value;
        std::snprintf(hex, sizeof hex, "%s$%llX", *value < 0 ? "-" : "", magnitude);
        Check(util::TryStrToInt(hex) == value, "hex spelling reads back");
    }
    return 0;
}
