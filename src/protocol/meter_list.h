// A list of the meters on one line, as engineers keep it in a CSV file: one meter a line,
// "address,type[,name]": the address as typed (fourteen hex digits, blanks allowed), the type as
// its type list position ("0"), its type code ("0x10") or its item text ("冷水水表"), and an
// optional name ("3-201 厨房"). UTF-8 with or without a byte order mark; lines whose first
// character is '#' are comments; blank lines and lines of empty fields are skipped; a field may
// be quoted ("a, b", with "" for a quote). `mbus read --meters` and `mbus sim --meters` read it,
// and the console's list of meters is loaded from it and saved to it (MeterListLine). A bad line
// is named with its field and left out; the lines around it are kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

struct ListedMeter {
    LineAddress Address{}; // as on the line, least significant byte first
    int TypePosition = 0;  // in the console's type list
    std::string Name;      // empty when the line gives none
    std::size_t Line = 0;  // the line of the list it stands on, from 1
};

// The part of a line an error is about; Line for the line as a whole.
enum class MeterListField { Line, Address, Type, Name };

enum class MeterListProblem {
    QuoteNotClosed, // a quoted field runs to the end of the line
    TooManyFields,  // more than address, type and name
    Missing,        // the field is empty or absent
    NotHex,         // the address holds other characters than hex digits and blanks
    AddressLength,  // the address does not give 14 hex digits
    UnknownType,    // no type of the list has this position, code or item text
    NotUtf8,        // the name is no UTF-8 text (a list saved in another encoding)
    Repeated        // the same address and type stand on an earlier line (RepeatOf)
};

struct MeterListError {
    std::size_t Line = 0; // from 1
    MeterListField Field = MeterListField::Line;
    MeterListProblem Problem = MeterListProblem::Missing;
    std::string Text;         // the field as written (the line for Line)
    std::size_t RepeatOf = 0; // Repeated: the earlier line
    // The line's fields as written, so a reader that keeps bad lines can show them; empty when
    // the line could not be split (a quote not closed).
    std::vector<std::string> Fields;
};

struct MeterList {
    std::vector<ListedMeter> Meters; // in the order of the list
    std::vector<MeterListError> Errors;
};

// The meters of a list's text, and an error for each line that is not one.
MeterList ParseMeterList(std::string_view text);

// The line of a list that holds these fields (without its line end), as ParseMeterList reads
// them back: a field is quoted where it holds a comma or a quote, has blanks at either end, or
// would make the line a comment; a line break inside a field becomes a blank, since a list has
// one meter a line. The name and the comma before it are left out when the name is empty.
std::string MeterListLine(std::string_view address, std::string_view type, std::string_view name);

// "address", "type", "name" or "line".
std::string_view MeterListFieldName(MeterListField field);

// What is wrong, in a few English words for the tools' messages ("gives 12 hex digits, not
// 14"); the caller names the line, the field and its text.
std::string MeterListProblemText(const MeterListError& error);

} // namespace mbus::protocol
