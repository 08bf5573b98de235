#include "protocol/meter_list.h"

#include "protocol/meter_type.h"
#include "util/utf8_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace mbus::protocol {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::size_t HexDigits(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), IsHexDigit));
}

bool IsUtf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = util::Utf8CharacterLength(text);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

// The fields of one line, split at commas outside quotes; none when a quote is not closed.
std::optional<std::vector<std::string>> SplitFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        std::string field;
        while (at < line.size() && IsBlank(line[at]))
            ++at;
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size())
                    return std::nullopt;
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field.push_back('"');
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field.push_back(line[at++]);
            }
            // Blanks after the closing quote are dropped; anything else is kept as written.
            const std::size_t comma = line.find(',', at);
            field += Trimmed(line.substr(at, comma - at));
            at = comma;
        } else {
            const std::size_t comma = line.find(',', at);
            field = Trimmed(line.substr(at, comma - at));
            at = comma;
        }
        fields.push_back(std::move(field));
        if (at == std::string_view::npos)
            return fields;
        ++at; // past the comma
    }
}

// The type list position of a position ("4"), a type code ("0x20") or an item text.
std::optional<int> TypeOfField(std::string_view text) {
    const auto types = MeterTypes();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        unsigned code = 0;
        const auto [end, ec] =
            std::from_chars(text.data() + 2, text.data() + text.size(), code, 16);
        if (ec != std::errc() || end != text.data() + text.size() || code > 0xFF)
            return std::nullopt;
        return MeterTypePositionOfCode(static_cast<std::uint8_t>(code));
    }
    if (!text.empty() &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        unsigned position = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), position);
        if (ec != std::errc() || position >= types.size())
            return std::nullopt;
        return static_cast<int>(position);
    }
    return MeterTypePosition(text);
}

class ListReader {
public:
    void ReadLine(std::string_view line, std::size_t number);
    MeterList Result() { return std::move(List_); }

private:
    void Fail(std::size_t line, MeterListField field, MeterListProblem problem,
              std::string_view text, std::size_t repeatOf = 0) {
        List_.Errors.push_back({line, field, problem, std::string(text), repeatOf, Fields_});
    }

    MeterList List_;
    std::vector<std::string> Fields_; // of the line being read
};

void ListReader::ReadLine(std::string_view line, std::size_t number) {
    const std::string_view content = Trimmed(line);
    if (content.empty() || content.front() == '#')
        return;
    const auto fields = SplitFields(content);
    Fields_ = fields.value_or(std::vector<std::string>());
    if (!fields) {
        Fail(number, MeterListField::Line, MeterListProblem::QuoteNotClosed, content);
        return;
    }
    if (std::all_of(fields->begin(), fields->end(), [](const std::string& f) { return f.empty(); }))
        return; // a row a spreadsheet left empty
    if (fields->size() > 3) {
        Fail(number, MeterListField::Line, MeterListProblem::TooManyFields, content);
        return;
    }

    const std::string& addressText = (*fields)[0];
    ListedMeter meter;
    meter.Line = number;
    bool sound = true;
    if (addressText.empty()) {
        Fail(number, MeterListField::Address, MeterListProblem::Missing, addressText);
        sound = false;
    } else if (!std::all_of(addressText.begin(), addressText.end(),
                            [](char c) { return IsHexDigit(c) || IsBlank(c); })) {
        Fail(number, MeterListField::Address, MeterListProblem::NotHex, addressText);
        sound = false;
    } else if (HexDigits(addressText) != 2 * kAddressSize) {
        Fail(number, MeterListField::Address, MeterListProblem::AddressLength, addressText);
        sound = false;
    } else {
        std::string digits;
        std::copy_if(addressText.begin(), addressText.end(), std::back_inserter(digits),
                     IsHexDigit);
        // Typed most significant byte first; on the line least significant first.
        for (std::size_t i = 0; i < kAddressSize; ++i) {
            unsigned value = 0;
            std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, value, 16);
            meter.Address[kAddressSize - 1 - i] = static_cast<std::uint8_t>(value);
        }
    }

    const std::string typeText = fields->size() > 1 ? (*fields)[1] : std::string();
    if (typeText.empty()) {
        Fail(number, MeterListField::Type, MeterListProblem::Missing, typeText);
        sound = false;
    } else if (const auto position = TypeOfField(typeText)) {
        meter.TypePosition = *position;
    } else {
        Fail(number, MeterListField::Type, MeterListProblem::UnknownType, typeText);
        sound = false;
    }

    if (fields->size() > 2) {
        meter.Name = (*fields)[2];
        if (!IsUtf8(meter.Name)) {
            Fail(number, MeterListField::Name, MeterListProblem::NotUtf8, meter.Name);
            sound = false;
        }
    }
    if (!sound)
        return;

    const auto earlier =
        std::find_if(List_.Meters.begin(), List_.Meters.end(), [&](const ListedMeter& other) {
            return other.Address == meter.Address && other.TypePosition == meter.TypePosition;
        });
    if (earlier != List_.Meters.end()) {
        Fail(number, MeterListField::Address, MeterListProblem::Repeated, addressText,
             earlier->Line);
        return;
    }
    List_.Meters.push_back(std::move(meter));
}

} // namespace

MeterList ParseMeterList(std::string_view text) {
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    ListReader reader;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        reader.ReadLine(line, ++number);
    }
    return reader.Result();
}

std::string MeterListLine(std::string_view address, std::string_view type, std::string_view name) {
    std::string line;
    const auto add = [&line](std::string_view field, bool first) {
        std::string text(field);
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        const bool quoted = text.find_first_of(",\"") != std::string::npos ||
                            (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back()))) ||
                            (first && !text.empty() && text.front() == '#');
        if (!first)
            line += ',';
        if (!quoted) {
            line += text;
            return;
        }
        line += '"';
        for (const char c : text) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
    };
    add(address, true);
    add(type, false);
    if (!name.empty())
        add(name, false);
    return line;
}

std::string_view MeterListFieldName(MeterListField field) {
    switch (field) {
    case MeterListField::Line:
        return "line";
    case MeterListField::Address:
        return "address";
    case MeterListField::Type:
        return "type";
    case MeterListField::Name:
        return "name";
    }
    return {};
}

std::string MeterListProblemText(const MeterListError& error) {
    switch (error.Problem) {
    case MeterListProblem::QuoteNotClosed:
        return "a quote is not closed";
    case MeterListProblem::TooManyFields:
        return "more fields than address, type and name (quote a name that holds a comma)";
    case MeterListProblem::Missing:
        return "missing";
    case MeterListProblem::NotHex:
        return "holds characters other than hex digits";
    case MeterListProblem::AddressLength:
        return "gives " + std::to_string(HexDigits(error.Text)) + " hex digits, not 14";
    case MeterListProblem::UnknownType:
        return "is no type position 0-7, type code (0x10) or type name";
    case MeterListProblem::NotUtf8:
        return "is not UTF-8 text (save the list as UTF-8)";
    case MeterListProblem::Repeated:
        return "repeats the meter of line " + std::to_string(error.RepeatOf);
    }
    return {};
}

} // namespace mbus::protocol
