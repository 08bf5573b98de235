// The serial component's message table: the texts of its result codes and of its status and
// dispatch-log labels, looked up by the absolute value of a number. Exceptions take their messages
// from here (MessageForCode); the dispatch log names its entry kinds and sub-kinds through it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mbus::serial {

// One entry: a number and its text. Error texts are held under negative numbers, status and
// label texts under positive ones; a text may be empty.
struct MessageNumberLookupRecord {
    std::int32_t Number;
    std::string_view Text;
};

// The whole table, ordered by strictly increasing absolute value of Number, "OK" under 0 first.
std::span<const MessageNumberLookupRecord> MessageTable();

// The table's text for a number, or empty when the table has none. Only the low 16 bits of
// `code` count, taken as a signed 16-bit number; the sign does not matter (-2007 and 2007 find
// the same entry).
std::string_view FindMessage(std::int32_t code);

// FindMessage's text; when that is empty, the system's message for the error number given by the
// absolute value of the low 16 bits of `code`, without its trailing full stops and blanks.
std::string MessageForCode(std::int32_t code);

// `text` without its trailing characters that are full stops or at most a blank (0x20 and the
// control characters: line breaks, tabs); bytes above 0x7F are kept. Used on system messages,
// which end in "." and a line break.
std::string TrimMessageEnd(std::string text);

} // namespace mbus::serial
