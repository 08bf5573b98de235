// Integer conversion of the port number, baud rate and timed-send period texts.
#include "util/integer_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace mbus::util {
namespace {

struct Case {
    std::string Text;
    std::optional<std::int32_t> Expected; // none: not an integer
};

void ExpectConversion(const Case& c) {
    SCOPED_TRACE("text '" + c.Text + "'");
    EXPECT_EQ(TryStrToInt(c.Text), c.Expected);
    if (c.Expected) {
        EXPECT_EQ(StrToInt(c.Text), *c.Expected);
        return;
    }
    try {
        StrToInt(c.Text);
        ADD_FAILURE() << "no error raised";
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + c.Text + "' is not a valid integer value");
    }
}

TEST(StrToInt, Decimal) {
    const std::vector<Case> cases = {
        {"0", 0},
        {"3", 3},
        {"9600", 9600},
        {"115200", 115200},
        {"007", 7},
        {"+5", 5},
        {"-5", -5},
        {"-0", 0},
        {"   42", 42},
        {" -42", -42},
        {"00000000000000000000001", 1},
    };
    for (const auto& c : cases)
        ExpectConversion(c);
}

TEST(StrToInt, Hexadecimal) {
    const std::vector<Case> cases = {
        {"$10", 16},
        {"x10", 16},
        {"X10", 16},
        {"0x10", 16},
        {"0X10", 16},
        {"$ff", 255},
        {"0xAbC", 0xABC},
        {"-$10", -16},
        {"+0x1f", 31},
        {"  -0X1F", -31},
        {"0x0", 0},
        {"$0000000000000001", 1},
        // A prefix needs at least one digit after it.
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"x", std::nullopt},
        {"-$", std::nullopt},
        {"$g", std::nullopt},
        {"$0x10", std::nullopt},
        {"0x-1", std::nullopt},
        {"$ 1", std::nullopt},
        // Hex digits without a prefix are not decimal digits.
        {"1F", std::nullopt},
        {"ff", std::nullopt},
    };
    for (const auto& c : cases)
        ExpectConversion(c);
}

TEST(StrToInt, TheWholeTextMustBeTheNumber) {
    const std::vector<Case> cases = {
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"+-5", std::nullopt},
        {"--5", std::nullopt},
        {"- 5", std::nullopt},
        // Trailing blanks and anything else after the digits are errors.
        {"5 ", std::nullopt},
        {"9600 ", std::nullopt},
        {"5\n", std::nullopt},
        {"5a", std::nullopt},
        {"1.0", std::nullopt},
        {"1e3", std::nullopt},
        {"1,000", std::nullopt},
        // Only blanks are skipped in front, no other white space.
        {"\t5", std::nullopt},
        {"\n5", std::nullopt},
        {"COM3", std::nullopt},
        {"５", std::nullopt},
    };
    for (const auto& c : cases)
        ExpectConversion(c);
    // A zero byte is a character like any other, not the end of the text.
    EXPECT_EQ(TryStrToInt(std::string("5\0", 2)), std::nullopt);
    EXPECT_EQ(TryStrToInt(std::string("\0"
                                      "5",
                                      2)),
              std::nullopt);
}

TEST(StrToInt, SignedThirtyTwoBitRangeEdges) {
    const std::vector<Case> cases = {
        {"2147483647", std::numeric_limits<std::int32_t>::max()},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"+2147483648", std::nullopt},
        {"4294967295", std::nullopt},
        {"4294967296", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"0002147483647", std::numeric_limits<std::int32_t>::max()},
        {"$7FFFFFFF", std::numeric_limits<std::int32_t>::max()},
        {"0x7fffffff", std::numeric_limits<std::int32_t>::max()},
        {"-$80000000", std::numeric_limits<std::int32_t>::min()},
        {"-0x80000000", std::numeric_limits<std::int32_t>::min()},
        {"$80000000", std::nullopt},
        {"-$80000001", std::nullopt},
        {"$FFFFFFFF", std::nullopt},
        {"$100000000", std::nullopt},
        {"0x10000000000000000", std::nullopt},
        {"$000000007FFFFFFF", std::numeric_limits<std::int32_t>::max()},
    };
    for (const auto& c : cases)
        ExpectConversion(c);
}

TEST(StrToInt, PortNumberRemainders) {
    // The console converts the port text from its fourth character on: "COM" gives an empty
    // remainder, "COM5" gives "5", "COM 5" gives " 5", "COM5 " a trailing blank.
    const std::vector<Case> cases = {
        {std::string("COM").substr(3), std::nullopt},
        {std::string("COM5").substr(3), 5},
        {std::string("COM 5").substr(3), 5},
        {std::string("COM5 ").substr(3), std::nullopt},
        {std::string("COM256").substr(3), 256},
        {std::string("COM$1F").substr(3), 31},
    };
    for (const auto& c : cases)
        ExpectConversion(c);
}

TEST(StrToInt, DecimalValuesRoundTripThroughTheirText) {
    const std::vector<std::int64_t> values = {0,
                                              1,
                                              -1,
                                              9,
                                              10,
                                              99,
                                              100,
                                              9600,
                                              -9600,
                                              65535,
                                              1000000,
                                              214748364,
                                              2147483646,
                                              2147483647,
                                              -2147483647,
                                              -2147483648LL,
                                              2147483648LL,
                                              -2147483649LL,
                                              4294967295LL,
                                              21474836470LL};
    for (const std::int64_t v : values) {
        const std::string text = std::to_string(v);
        const bool inRange = v >= std::numeric_limits<std::int32_t>::min() &&
                             v <= std::numeric_limits<std::int32_t>::max();
        EXPECT_EQ(TryStrToInt(text), inRange
                                         ? std::optional<std::int32_t>(static_cast<std::int32_t>(v))
                                         : std::nullopt)
            << text;
    }
}

} // namespace
} // namespace mbus::util
