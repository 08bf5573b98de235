#include "util/string_c.h"

#include <algorithm>

namespace mbus::util {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

// Value of a hex digit, or -1 for any other byte.
int HexValue(unsigned char b) {
    if (b >= '0' && b <= '9')
        return b - '0';
    if (b >= 'a' && b <= 'f')
        return b - 'a' + 10;
    if (b >= 'A' && b <= 'F')
        return b - 'A' + 10;
    return -1;
}

// Walks the hex digits of `text` in pairs and hands each byte to `sink`; returns the count.
template <typename Sink> std::size_t ForEachHexByte(std::string_view text, Sink&& sink) {
    std::size_t count = 0;
    int high = -1;
    for (unsigned char b : text) {
        const int v = HexValue(b);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
            continue;
        }
        sink(count, static_cast<std::uint8_t>(high << 4 | v));
        ++count;
        high = -1;
    }
    return count;
}

} // namespace

std::string RemoveChar(std::string_view text, char c) {
    std::string out;
    out.reserve(text.size());
    for (char b : text) {
        if (b != c)
            out.push_back(b);
    }
    return out;
}

std::string RemoveSpaces(std::string_view text) {
    return RemoveChar(text, ' ');
}

std::string RemoveTextBlanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == 0) {
            out.append(text.substr(i));
            break;
        }
        if (IsLeadByte(b) && i + 1 < text.size() && text[i + 1] != '\0') {
            out.append(text.substr(i, 2));
            i += 2;
            continue;
        }
        if (b != ' ')
            out.push_back(static_cast<char>(b));
        ++i;
    }
    return out;
}

std::string TextToHex(std::string_view text) {
    const std::string bytes = RemoveTextBlanks(text);
    std::string hex;
    BytesToHex(AsBytes(bytes), hex);
    // Trim characters up to 0x20 at both ends; in effect the blank after the last pair.
    const auto notBlank = [](char ch) { return static_cast<unsigned char>(ch) > 0x20; };
    const auto first = std::find_if(hex.begin(), hex.end(), notBlank);
    const auto last = std::find_if(hex.rbegin(), hex.rend(), notBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string GroupHexPairs(std::string_view text) {
    const std::string s = RemoveTextBlanks(text);
    // Blanks go before byte positions 3, 6, 9, ... of the growing text, n div 2 - 1 times; in
    // terms of the input that is before every even index from 2 up to 2 * (n div 2 - 1).
    const std::size_t blanks = s.size() / 2 >= 1 ? s.size() / 2 - 1 : 0;
    std::string out;
    out.reserve(s.size() + blanks);
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i >= 2 && i % 2 == 0 && i / 2 <= blanks)
            out.push_back(' ');
        out.push_back(s[i]);
    }
    return out;
}

std::string HexToBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 2);
    ForEachHexByte(text, [&](std::size_t, std::uint8_t b) { out.push_back(static_cast<char>(b)); });
    return out;
}

std::size_t HexToBytes(std::string_view text, std::span<std::uint8_t> out) {
    return ForEachHexByte(text, [&](std::size_t index, std::uint8_t b) {
        if (index < out.size())
            out[index] = b;
    });
}

void BytesToHex(std::span<const std::uint8_t> bytes, std::string& text) {
    text.reserve(text.size() + 3 * bytes.size());
    for (std::uint8_t b : bytes) {
        text.push_back(kHexDigits[b >> 4]);
        text.push_back(kHexDigits[b & 0x0F]);
        text.push_back(' ');
    }
}

std::string BytesToHex(std::span<const std::uint8_t> bytes) {
    std::string text;
    BytesToHex(bytes, text);
    return text;
}

std::string BytesToHexTrimmed(std::span<const std::uint8_t> bytes) {
    std::string text = BytesToHex(bytes);
    if (!text.empty())
        text.pop_back();
    return text;
}

std::uint8_t SumBytes(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes)
        sum = static_cast<std::uint8_t>(sum + b);
    return sum;
}

void ReverseBytes(std::span<std::uint8_t> bytes) {
    std::reverse(bytes.begin(), bytes.end());
}

std::optional<std::size_t> FindBytes(std::span<const std::uint8_t> data,
                                     std::span<const std::uint8_t> pattern) {
    if (pattern.empty() || pattern.size() > data.size())
        return std::nullopt;
    const std::size_t lastStart = data.size() - pattern.size();
    for (std::size_t i = 0; i <= lastStart; ++i) {
        if (data[i] == pattern[0] && std::equal(pattern.begin(), pattern.end(), data.begin() + i))
            return i;
    }
    return std::nullopt;
}

} // namespace mbus::util
