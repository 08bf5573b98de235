// Hex text and byte helpers shared by the whole console: conversions between byte strings and
// spaced hex text, the protocol's 8-bit sum, in-place byte reversal and byte-pattern search.
// Texts are byte strings: a std::string may hold any byte value, zero included. Every routine is
// stateless, accepts every input (empty ones too) and never touches bytes outside what it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mbus::util {

// The text without any byte equal to `c`; bytes are compared one by one, whatever the code page.
std::string RemoveChar(std::string_view text, char c);

// RemoveChar(text, ' '): removes every 0x20 byte, also one that is the second byte of a GBK
// character or stands after a zero byte.
std::string RemoveSpaces(std::string_view text);

// Trimmed hex text of the bytes of `text` ("41 42 43"), after removing the blanks that a
// zero-terminated, double-byte-aware search finds (see RemoveTextBlanks).
std::string TextToHex(std::string_view text);

// The text with its blanks removed (as TextToHex does) and regrouped into blank-separated pairs
// from the start; an odd last character stays joined to the last pair ("AAAAA" -> "AA AAA").
// Counts bytes, not hex digits, and never adds a blank at the end.
std::string GroupHexPairs(std::string_view text);

// Blank removal of TextToHex and GroupHexPairs: the text ends at its first zero byte (that byte
// and everything after it are kept unchanged), and a 0x20 that is the trail byte of a GBK
// double-byte character (lead byte 0x81..0xFE) is not a blank.
std::string RemoveTextBlanks(std::string_view text);

// The bytes that the hex digits of `text` encode: digits are collected in order wherever they
// stand, every other byte is skipped, digits are paired from the start and an odd last digit is
// dropped.
std::string HexToBytes(std::string_view text);

// The same conversion into a caller's buffer. Writes at most out.size() bytes and returns the
// full number of bytes the text encodes, which may be larger than out.size().
std::size_t HexToBytes(std::string_view text, std::span<std::uint8_t> out);

// Appends two upper-case hex digits and one blank per byte to `text` ("X" + 01 02 -> "X01 02 ").
void BytesToHex(std::span<const std::uint8_t> bytes, std::string& text);

// Convenience: the spaced hex text of the bytes alone.
std::string BytesToHex(std::span<const std::uint8_t> bytes);

// Every byte as two upper-case hex digits, single blanks between them and none after the last
// ("01 02"): how the traffic view and the tools' output show the bytes of a frame.
std::string BytesToHexTrimmed(std::span<const std::uint8_t> bytes);

// Sum of the bytes modulo 256.
std::uint8_t SumBytes(std::span<const std::uint8_t> bytes);

// Reverses the bytes in place.
void ReverseBytes(std::span<std::uint8_t> bytes);

// Position of the first occurrence of `pattern` lying wholly inside `data`; none for an empty
// pattern or when there is no such occurrence.
std::optional<std::size_t> FindBytes(std::span<const std::uint8_t> data,
                                     std::span<const std::uint8_t> pattern);

// Views a byte string as bytes.
inline std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace mbus::util
