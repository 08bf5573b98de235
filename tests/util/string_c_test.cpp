// Hex text and byte helpers: the two kinds of blank removal, hex text in both directions, the
// 8-bit sum, byte reversal and the pattern search.
#include "util/string_c.h"

#include "support/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mbus::util {
namespace {

using testing::CharsOf;

std::vector<std::uint8_t> Vec(std::string_view text) {
    const auto bytes = AsBytes(text);
    return {bytes.begin(), bytes.end()};
}

struct TextCase {
    std::string Input;
    std::string Expected;
};

// ---------------------------------------------------------------------------------------------
// RemoveChar / RemoveSpaces: byte by byte, every occurrence, whatever stands around it.

TEST(RemoveChar, RemovesEveryOccurrenceByteByByte) {
    const std::vector<TextCase> cases = {
        {"", ""},
        {"   ", ""},
        {"FE FE 68 ", "FEFE68"},
        {" A  B ", "AB"},
        // The trail byte of a double-byte character goes too.
        {CharsOf({0x99, 0x20, 0x41}), CharsOf({0x99, 0x41})},
        // So does a blank after a zero byte; the zero byte itself stays.
        {CharsOf({0x68, 0x00, 0x20}), CharsOf({0x68, 0x00})},
        {CharsOf({0x20, 0x00, 0x20, 0x00, 0x20}), CharsOf({0x00, 0x00})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RemoveSpaces(c.Input), c.Expected) << ::testing::PrintToString(c.Input);
        EXPECT_EQ(RemoveChar(c.Input, ' '), c.Expected) << ::testing::PrintToString(c.Input);
    }
}

TEST(RemoveChar, AnyByteValueCanBeRemoved) {
    EXPECT_EQ(RemoveChar(CharsOf({'a', 0, 'b', 0, 0}), '\0'), "ab");
    EXPECT_EQ(RemoveChar(CharsOf({0x99, 0x41, 0x99, 0x99}), '\x99'), "A");
    EXPECT_EQ(RemoveChar("AAAA", 'A'), "");
    EXPECT_EQ(RemoveChar("ABAB", 'C'), "ABAB");
    // Only the given byte: other bytes with the same low seven bits stay.
    EXPECT_EQ(RemoveChar(CharsOf({0x41, 0xC1, 0x41}), 'A'), CharsOf({0xC1}));
}

// ---------------------------------------------------------------------------------------------
// RemoveTextBlanks: the zero-terminated, double-byte-aware removal behind TextToHex and
// GroupHexPairs.

TEST(RemoveTextBlanks, StopsAtTheFirstZeroByteAndKeepsTrailBlanks) {
    const std::vector<TextCase> cases = {
        {"", ""},
        {"   ", ""},
        {"A B", "AB"},
        {" FE FE 68 ", "FEFE68"},
        // Everything from the first zero byte on stays as it is, blanks included.
        {CharsOf({0x68, 0x20, 0x00, 0x20}), CharsOf({0x68, 0x00, 0x20})},
        {CharsOf({0x00, 0x20, 0x41, 0x20}), CharsOf({0x00, 0x20, 0x41, 0x20})},
        {CharsOf({0x20, 0x00, 0x00, 0x20}), CharsOf({0x00, 0x00, 0x20})},
        // A blank that is the second byte of a double-byte character is not a blank.
        {CharsOf({0x99, 0x20, 0x41}), CharsOf({0x99, 0x20, 0x41})},
        {CharsOf({0x81, 0x20}), CharsOf({0x81, 0x20})},
        {CharsOf({0xFE, 0x20}), CharsOf({0xFE, 0x20})},
        // 0x80 and 0xFF are not lead bytes.
        {CharsOf({0x80, 0x20, 0x41}), CharsOf({0x80, 0x41})},
        {CharsOf({0xFF, 0x20, 0x41}), CharsOf({0xFF, 0x41})},
        // A blank after a complete double-byte character is a blank again.
        {CharsOf({0x99, 0x41, 0x20, 0x42}), CharsOf({0x99, 0x41, 0x42})},
        // Pairs are counted from the start of the text: the second 0x99 is a trail byte, so the
        // blank after it starts a character of its own and goes.
        {CharsOf({0x99, 0x99, 0x20}), CharsOf({0x99, 0x99})},
        {CharsOf({0x99, 0x99, 0x99, 0x20}), CharsOf({0x99, 0x99, 0x99, 0x20})},
        {CharsOf({0x41, 0x99, 0x20, 0x20}), CharsOf({0x41, 0x99, 0x20})},
        // A lead byte right before the zero byte does not swallow it.
        {CharsOf({0x99, 0x00, 0x20}), CharsOf({0x99, 0x00, 0x20})},
        // A lead byte at the very end stays.
        {CharsOf({0x20, 0x99}), CharsOf({0x99})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RemoveTextBlanks(c.Input), c.Expected) << ::testing::PrintToString(c.Input);
}

TEST(RemoveTextBlanks, DiffersFromRemoveSpacesOnlyWhereItShould) {
    // The traffic view passes arbitrary received bytes through the aware removal; the decoder's
    // line goes through the plain one. Same input, two results.
    const std::string afterZero = CharsOf({0x68, 0x00, 0x20});
    EXPECT_EQ(RemoveTextBlanks(afterZero), afterZero);
    EXPECT_EQ(RemoveSpaces(afterZero), CharsOf({0x68, 0x00}));

    const std::string trail = CharsOf({0x99, 0x20, 0x41});
    EXPECT_EQ(RemoveTextBlanks(trail), trail);
    EXPECT_EQ(RemoveSpaces(trail), CharsOf({0x99, 0x41}));
}

// ---------------------------------------------------------------------------------------------
// TextToHex

TEST(TextToHex, GivesTrimmedHexOfTheBytesLeftAfterBlankRemoval) {
    const std::vector<TextCase> cases = {
        {"", ""},
        {" ", ""},
        {"    ", ""},
        {"ABC", "41 42 43"},
        {"A B", "41 42"},
        {" A ", "41"},
        {CharsOf({0x68, 0x20, 0x00, 0x20}), "68 00 20"},
        {CharsOf({0x99, 0x20, 0x41}), "99 20 41"},
        {CharsOf({0x00}), "00"},
        {CharsOf({0x20, 0x00, 0x20}), "00 20"},
        {CharsOf({0x0A, 0xFF, 0x7F}), "0A FF 7F"},
        // Control bytes below 0x20 are data, not blanks; they show as hex like any other.
        {CharsOf({0x09, 0x0D, 0x0A}), "09 0D 0A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextToHex(c.Input), c.Expected) << ::testing::PrintToString(c.Input);
}

TEST(TextToHex, EveryByteValueIsTwoUpperCaseDigits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
        if (b == 0x20)
            continue;
        const std::string expected{kDigits[b >> 4], kDigits[b & 15]};
        EXPECT_EQ(TextToHex(CharsOf({b})), expected) << b;
    }
}

// ---------------------------------------------------------------------------------------------
// GroupHexPairs

TEST(GroupHexPairs, RegroupsIntoPairsWithAnOddLastCharacterJoined) {
    const std::vector<TextCase> cases = {
        {"", ""},
        {" ", ""},
        {"A", "A"},
        {"AA", "AA"},
        {"AAA", "AAA"},
        {"AAAA", "AA AA"},
        {"AAAAA", "AA AAA"},
        {"AAAAAAA", "AA AA AAA"},
        {"AAAAAAAAAAAAAA", "AA AA AA AA AA AA AA"},
        {"AA AA AA AA AA AA AA", "AA AA AA AA AA AA AA"},
        {"  A A A A  ", "AA AA"},
        {"A AAA AAAAAA", "AA AA AA AA AA"},
        {"A AAA AAAAA", "AA AA AA AAA"},
        {"123456789", "12 34 56 789"},
        // Any character counts as one position; nothing checks for hex digits.
        {"xyz!", "xy z!"},
        // A kept trail blank counts as a character of its own.
        {CharsOf({0x99, 0x20, 'A', 'A', 'A'}), CharsOf({0x99, 0x20, ' ', 'A', 'A', 'A'})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GroupHexPairs(c.Input), c.Expected) << ::testing::PrintToString(c.Input);
}

TEST(GroupHexPairs, NeverEndsWithAddedBlankAndIsIdempotentOnPlainText) {
    // Plain ASCII (no zero byte, no lead byte): every blank the first pass adds is removed by
    // the second, so grouping twice equals grouping once. Lengths 0..40 of hex digits, with and
    // without blanks of the input's own.
    for (std::size_t n = 0; n <= 40; ++n) {
        std::string digits;
        std::string spaced;
        for (std::size_t i = 0; i < n; ++i) {
            digits.push_back("0123456789ABCDEF"[i % 16]);
            spaced.push_back(digits.back());
            if (i % 3 == 0)
                spaced.append(i % 2 ? " " : "  ");
        }
        const std::string once = GroupHexPairs(digits);
        EXPECT_EQ(GroupHexPairs(once), once) << n;
        EXPECT_EQ(GroupHexPairs(spaced), once) << n;
        EXPECT_EQ(RemoveSpaces(once), digits) << n;
        if (!once.empty()) {
            EXPECT_NE(once.back(), ' ') << n;
            EXPECT_NE(once.front(), ' ') << n;
        }
        EXPECT_EQ(once.find("  "), std::string::npos) << n;
    }
}

// ---------------------------------------------------------------------------------------------
// HexToBytes

TEST(HexToBytes, PairsTheHexDigitsInOrderWhereverTheyStand) {
    const std::vector<TextCase> cases = {
        {"", ""},
        {"G", ""},
        {"A", ""},
        {"   ", ""},
        {"fe", CharsOf({0xFE})},
        {"FE", CharsOf({0xFE})},
        {"fE Fe", CharsOf({0xFE, 0xFE})},
        {"AA AA AA AA AA AA AA", std::string(7, '\xAA')},
        // Pairing follows the digits, not the blanks.
        {"1 2 3 4", CharsOf({0x12, 0x34})},
        {"A BC", CharsOf({0xAB})},
        {"ABC", CharsOf({0xAB})},
        // The odd last digit is dropped: "0x12" holds the digits 0, 1, 2.
        {"0x12", CharsOf({0x01})},
        {"1F 9", CharsOf({0x1F})},
        {"0x12 0x34", CharsOf({0x01, 0x20, 0x34})},
        // Any other byte is skipped: line ends, punctuation, zero bytes.
        {"\r\n12,\t34;\n", CharsOf({0x12, 0x34})},
        {CharsOf({'1', 0x00, '2'}), CharsOf({0x12})},
        {"FE-FE:68", CharsOf({0xFE, 0xFE, 0x68})},
        {"gg00zz", CharsOf({0x00})},
        // Bytes with the high bit set are skipped, even when their low seven bits are a digit.
        {CharsOf({'1', 0xB1, '2'}), CharsOf({0x12})},
        {CharsOf({0xC1, 0xC2, 0xE1, 0xE2}), ""},
        {CharsOf({'A', 0xC1, 'B'}), CharsOf({0xAB})},
        // A GBK text holds no ASCII digits: "冷水" (C0 E4 CB AE) gives nothing.
        {CharsOf({0xC0, 0xE4, 0xCB, 0xAE}), ""},
        // UTF-8 Chinese between the digits is skipped as well.
        {"12冷水34", CharsOf({0x12, 0x34})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexToBytes(c.Input), c.Expected) << ::testing::PrintToString(c.Input);
        std::array<std::uint8_t, 16> buffer{};
        const std::size_t count = HexToBytes(c.Input, buffer);
        ASSERT_EQ(count, c.Expected.size()) << ::testing::PrintToString(c.Input);
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + count), c.Expected);
    }
}

TEST(HexToBytes, BufferOverloadNeverWritesPastTheBufferAndCountsEverything) {
    const std::string text = "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16";
    const std::string all = HexToBytes(text);
    ASSERT_EQ(all.size(), 18u);

    for (std::size_t size = 0; size <= all.size() + 2; ++size) {
        // An exactly sized heap block, so the address sanitizer sees a write past it, and a
        // guarded view into a larger block, so a plain build sees it too.
        std::vector<std::uint8_t> exact(size, 0x5A);
        EXPECT_EQ(HexToBytes(text, exact), all.size()) << size;

        std::vector<std::uint8_t> guarded(size + 8, 0x5A);
        const std::size_t count = HexToBytes(text, std::span(guarded).first(size));
        EXPECT_EQ(count, all.size()) << size;

        const std::size_t written = std::min(size, all.size());
        for (std::size_t i = 0; i < guarded.size(); ++i) {
            if (i < written) {
                EXPECT_EQ(guarded[i], static_cast<std::uint8_t>(all[i])) << size << " @" << i;
                EXPECT_EQ(exact[i], static_cast<std::uint8_t>(all[i])) << size << " @" << i;
            } else {
                EXPECT_EQ(guarded[i], 0x5A) << "written past " << size << " @" << i;
            }
        }
    }
}

TEST(HexToBytes, EmptyBufferStillReportsTheCount) {
    // The console's address check compares the count against 7 whatever the buffer size.
    std::span<std::uint8_t> none;
    EXPECT_EQ(HexToBytes("AA AA AA AA AA AA AA AA", none), 8u);
    EXPECT_EQ(HexToBytes("", none), 0u);
}

// ---------------------------------------------------------------------------------------------
// BytesToHex

TEST(BytesToHex, AppendsSpacedHexToTheGivenText) {
    std::string text = "X";
    BytesToHex(AsBytes(CharsOf({0x01, 0x02})), text);
    EXPECT_EQ(text, "X01 02 ");

    BytesToHex({}, text);
    EXPECT_EQ(text, "X01 02 ");

    BytesToHex(AsBytes(CharsOf({0xAB})), text);
    EXPECT_EQ(text, "X01 02 AB ");

    EXPECT_EQ(BytesToHex(std::span<const std::uint8_t>()), "");
    EXPECT_EQ(BytesToHex(AsBytes(CharsOf({0x0A, 0xF0, 0x00, 0xFF}))), "0A F0 00 FF ");
}

TEST(BytesToHex, RoundTripsThroughHexToBytesForEveryByteValue) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const std::string hex = BytesToHex(all);
    ASSERT_EQ(hex.size(), 3 * all.size());
    EXPECT_EQ(Vec(HexToBytes(hex)), all);

    // The trimmed shape reads back the same; so does the lower-case one.
    EXPECT_EQ(Vec(HexToBytes(hex.substr(0, hex.size() - 1))), all);
    std::string lower = hex;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Vec(HexToBytes(lower)), all);

    // TextToHex shows the same digits, trimmed.
    EXPECT_EQ(TextToHex(std::string(all.begin() + 0x21, all.end())),
              BytesToHex(std::span(all).subspan(0x21)).substr(0, 3 * (256 - 0x21) - 1));
}

// ---------------------------------------------------------------------------------------------
// SumBytes, ReverseBytes

TEST(SumBytes, AddsModulo256) {
    EXPECT_EQ(SumBytes(AsBytes(CharsOf({0x68, 0x10, 0xAA}))), 0x22);
    EXPECT_EQ(SumBytes({}), 0);
    EXPECT_EQ(SumBytes(AsBytes(CharsOf({0xFF}))), 0xFF);
    EXPECT_EQ(SumBytes(AsBytes(CharsOf({0xFF, 0x01}))), 0x00);
    EXPECT_EQ(SumBytes(AsBytes(std::string(257, '\xFF'))), 0xFF);
    EXPECT_EQ(SumBytes(AsBytes(std::string(1000, '\x01'))), 1000 % 256);
}

TEST(ReverseBytes, ReversesInPlace) {
    struct Case {
        std::vector<std::uint8_t> Input;
        std::vector<std::uint8_t> Expected;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{0x01}, {0x01}},
        {{0x01, 0x02}, {0x02, 0x01}},
        {{0x01, 0x02, 0x03}, {0x03, 0x02, 0x01}},
        {{0x01, 0x02, 0x03, 0x04}, {0x04, 0x03, 0x02, 0x01}},
        {{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, {0xA6, 0xA5, 0xA4, 0xA3, 0xA2, 0xA1, 0xA0}},
    };
    for (const auto& c : cases) {
        auto bytes = c.Input;
        ReverseBytes(bytes);
        EXPECT_EQ(bytes, c.Expected);
    }
}

TEST(ReverseBytes, TouchesOnlyTheBytesNamed) {
    std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5, 6};
    ReverseBytes(std::span(bytes).subspan(1, 3));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 4, 3, 2, 5, 6}));
}

// ---------------------------------------------------------------------------------------------
// FindBytes

TEST(FindBytes, FirstOccurrenceLyingWhollyInside) {
    struct Case {
        std::string Data;
        std::string Pattern;
        std::optional<std::size_t> Expected;
    };
    const std::vector<Case> cases = {
        {CharsOf({0x1F, 0x90, 0x1F}), CharsOf({0x90, 0x1F}), 1},
        {CharsOf({0x1F, 0x90}), CharsOf({0x90, 0x1F}), std::nullopt},
        {CharsOf({0x90, 0x1F}), CharsOf({0x90, 0x1F}), 0},
        {CharsOf({0x90, 0x1F, 0x90, 0x1F}), CharsOf({0x90, 0x1F}), 0},
        {CharsOf({0x00, 0x90, 0x90, 0x1F}), CharsOf({0x90, 0x1F}), 2},
        // A first byte at the very end does not match a two-byte pattern.
        {CharsOf({0x00, 0x00, 0x90}), CharsOf({0x90, 0x1F}), std::nullopt},
        {"", CharsOf({0x90}), std::nullopt},
        {CharsOf({0x90}), CharsOf({0x90, 0x1F}), std::nullopt},
        {"aaab", "aab", 1},
        {"abc", "abc", 0},
        {"abc", "", std::nullopt},
        {CharsOf({0x00, 0x00}), CharsOf({0x00}), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindBytes(AsBytes(c.Data), AsBytes(c.Pattern)), c.Expected)
            << ::testing::PrintToString(c.Data) << " / " << ::testing::PrintToString(c.Pattern);
}

std::optional<std::size_t> NaiveFind(const std::string& data, const std::string& pattern) {
    if (pattern.empty())
        return std::nullopt;
    for (std::size_t i = 0; i + pattern.size() <= data.size(); ++i) {
        if (data.compare(i, pattern.size(), pattern) == 0)
            return i;
    }
    return std::nullopt;
}

TEST(FindBytes, AgreesWithANaiveSearchOnEveryShortInput) {
    // Every data string of up to 7 bytes and every pattern of 1 to 3 bytes over a two-letter
    // alphabet (the two identifier bytes), each data string in an exactly sized heap block.
    const auto strings = [](std::size_t maxLength) {
        std::vector<std::string> all{""};
        for (std::size_t begin = 0, length = 1; length <= maxLength; ++length) {
            const std::size_t end = all.size();
            for (std::size_t i = begin; i < end; ++i) {
                all.push_back(all[i] + '\x1F');
                all.push_back(all[i] + '\x90');
            }
            begin = end;
        }
        return all;
    };
    const auto datas = strings(7);
    const auto patterns = strings(3);
    for (const auto& data : datas) {
        const std::vector<std::uint8_t> heap(data.begin(), data.end());
        for (const auto& pattern : patterns) {
            const std::vector<std::uint8_t> needle(pattern.begin(), pattern.end());
            ASSERT_EQ(FindBytes(heap, needle), NaiveFind(data, pattern))
                << ::testing::PrintToString(data) << " / " << ::testing::PrintToString(pattern);
        }
    }
}

} // namespace
} // namespace mbus::util
