#include "protocol/readings_csv.h"

#include "protocol/meter_type.h"
#include "util/utf8_text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace mbus::protocol {
namespace {

bool HasUnit(const ReplyField& field) {
    return field.Unit == UnitByte::Follows || !field.FixedUnit.empty();
}

// One CSV field, quoted when it has to be.
void AppendField(std::string& line, std::string_view text) {
    if (!line.empty())
        line.push_back(',');
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        line.append(text);
        return;
    }
    line.push_back('"');
    for (char c : text) {
        if (c == '"')
            line.push_back('"');
        line.push_back(c);
    }
    line.push_back('"');
}

std::string_view YesNo(const std::optional<bool>& value) {
    if (!value)
        return {};
    return *value ? "是" : "否";
}

} // namespace

std::optional<RowMeter> MeterOfRow(const ReadingRow& row) {
    if (row.Reply && row.Reply->Address && row.Reply->TypeCode)
        return RowMeter{*row.Reply->Address, *row.Reply->TypeCode};
    if (row.Request)
        return RowMeter{row.Request->Address, row.Request->TypeCode};
    return std::nullopt;
}

std::string Iso8601(const LocalTimestamp& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.Year, time.Month,
                  time.Day, time.Hour, time.Minute, time.Second, time.Millisecond);
    return text;
}

ReadingsCsv::ReadingsCsv(std::span<const ReplyFormat* const> formats, CsvWords words,
                         NameColumn name)
    : Words_(words), Name_(name) {
    for (const ReplyFormat* format : formats) {
        for (const ReplyField& field : format->Fields) {
            const bool named =
                std::any_of(Fields_.begin(), Fields_.end(),
                            [&](const ReplyField* f) { return f->Label == field.Label; });
            if (field.Kind != FieldKind::Status && !named)
                Fields_.push_back(&field);
        }
    }
}

std::string ReadingsCsv::Header() const {
    std::string line;
    for (const char* name : {"时间", "串口", "表地址"})
        AppendField(line, name);
    if (Name_ == NameColumn::Shown)
        AppendField(line, "名称");
    AppendField(line, "表类型代码");
    for (const ReplyField* field : Fields_) {
        const std::string label(BareLabel(*field));
        AppendField(line, label);
        if (HasUnit(*field))
            AppendField(line, label + "单位");
    }
    for (const char* name : {"状态", "阀门", "电池", "校验和正确", "地址相符", "耗时ms"})
        AppendField(line, name);
    if (Words_ == CsvWords::People)
        AppendField(line, "帧校验");
    return line + "\r\n";
}

std::string ReadingsCsv::Row(const ReadingRow& row) const {
    std::string line;
    AppendField(line, Iso8601(row.Time));
    // The port as the user gave it may be any device path: on one line, as `mbus ports --json`
    // writes it.
    AppendField(line, util::EscapedUtf8Text(row.Port));

    const ParsedReply* reading = row.Reply && row.Reply->Decoded() ? &*row.Reply : nullptr;
    const Verdict outcome =
        row.Outcome.value_or(reading ? VerdictOfReply(*reading) : Verdict::NoReply);
    const auto meter = MeterOfRow(row);
    AppendField(line, meter ? AddressText(meter->Address) : std::string());
    if (Name_ == NameColumn::Shown)
        AppendField(line, row.Name);
    AppendField(line, meter ? TypeCodeText(meter->TypeCode) : std::string());

    for (const ReplyField* field : Fields_) {
        const FieldReading* value = nullptr;
        if (reading) {
            const auto found =
                std::find_if(reading->Fields.begin(), reading->Fields.end(),
                             [&](const FieldReading& f) { return f.Label == BareLabel(*field); });
            if (found != reading->Fields.end())
                value = &*found;
        }
        AppendField(line, value ? value->Value : std::string());
        if (HasUnit(*field))
            AppendField(line, value ? value->Unit : std::string());
    }

    if (reading) {
        // A layout without status bytes (a past month, the price table, a day) says nothing of
        // the valve or the battery.
        const bool status = !reading->Status.Raw.empty();
        AppendField(line, outcome == Verdict::Late ? Word(outcome) : reading->Status.Raw);
        AppendField(line, status ? ValveText(reading->Status.ValveState) : std::string_view());
        AppendField(line, status ? BatteryText(reading->Status.BatteryState) : std::string_view());
        AppendField(line, YesNo(reading->Check.Checksum));
        AppendField(line, YesNo(reading->Check.AddressMatch));
    } else {
        AppendField(line, Word(outcome));
        for (int i = 0; i < 4; ++i)
            AppendField(line, {});
    }
    AppendField(line, row.ElapsedMs ? std::to_string(*row.ElapsedMs) : std::string());
    if (Words_ == CsvWords::People)
        AppendField(line, VerdictText(outcome));
    return line + "\r\n";
}

std::string_view ReadingsCsv::Word(Verdict verdict) const {
    return Words_ == CsvWords::People ? VerdictText(verdict) : VerdictName(verdict);
}

std::vector<const ReplyFormat*> FormatsOfRows(std::span<const ReadingRow> rows) {
    std::vector<const ReplyFormat*> formats;
    for (const ReadingRow& row : rows) {
        if (row.Reply && row.Reply->Format &&
            std::find(formats.begin(), formats.end(), row.Reply->Format) == formats.end())
            formats.push_back(row.Reply->Format);
    }
    return formats;
}

} // namespace mbus::protocol
