#include "console/operation_result.h"

#include "protocol/meter_status.h"
#include "protocol/meter_type.h"
#include "util/string_c.h"

namespace mbus::console {
namespace {

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString CompactHex(std::span<const std::uint8_t> bytes) {
    return QString::fromStdString(util::RemoveSpaces(util::BytesToHex(bytes)));
}

// The status as the window shows it: the raw bytes, then the valve and battery in words.
QString StatusText(const protocol::MeterStatus& status) {
    return QStringLiteral("%1（阀门 %2，电池 %3）")
        .arg(QString::fromStdString(status.Raw), Utf8(protocol::ValveText(status.ValveState)),
             Utf8(protocol::BatteryText(status.BatteryState)));
}

void AddHeaderLines(const protocol::ParsedReply& reply, std::vector<ResultLine>& lines) {
    if (reply.Address) {
        lines.push_back({QStringLiteral("表地址"),
                         QString::fromStdString(protocol::AddressText(*reply.Address)),
                         CompactHex(*reply.Address)});
    }
    if (reply.TypeCode) {
        const auto name = protocol::MeterTypeText(*reply.TypeCode);
        lines.push_back({QStringLiteral("表类型"),
                         QStringLiteral("%1 (%2)").arg(
                             name ? Utf8(*name) : QStringLiteral("未知"),
                             QString::fromStdString(protocol::TypeCodeText(*reply.TypeCode))),
                         CompactHex(std::span(&*reply.TypeCode, 1))});
    }
}

} // namespace

OperationResult ResultOf(const protocol::Exchange& exchange) {
    OperationResult result;
    result.Failed = protocol::Failed(exchange.Outcome);
    result.Outcome = Utf8(protocol::VerdictText(exchange.Outcome));
    if (!exchange.Reply)
        return result;
    const protocol::ParsedReply& reply = *exchange.Reply;
    const bool write =
        reply.Kind == protocol::ReplyKind::Write || reply.Kind == protocol::ReplyKind::WriteAddress;
    if (write && exchange.Outcome == protocol::Verdict::Good)
        result.Outcome = QStringLiteral("已执行");

    switch (reply.Kind) {
    case protocol::ReplyKind::Error: {
        const QString status = CompactHex(reply.ErrorStatus);
        result.Lines.push_back({QStringLiteral("状态字节"),
                                QString::fromStdString(util::BytesToHexTrimmed(reply.ErrorStatus)),
                                status});
        break;
    }
    case protocol::ReplyKind::ReadAddress:
    case protocol::ReplyKind::WriteAddress:
        AddHeaderLines(reply, result.Lines);
        break;
    default:
        break;
    }
    for (const protocol::FieldReading& field : reply.Fields) {
        QString value = field.Kind == protocol::FieldKind::Status
                            ? StatusText(reply.Status)
                            : QString::fromStdString(field.Value);
        if (!field.Unit.empty())
            value += QLatin1Char(' ') + QString::fromStdString(field.Unit);
        result.Lines.push_back({Utf8(field.Label), value, QString::fromStdString(field.Raw)});
    }
    return result;
}

} // namespace mbus::console
