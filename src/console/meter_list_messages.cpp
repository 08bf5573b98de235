#include "console/meter_list_messages.h"

#include <algorithm>
#include <cctype>

namespace mbus::console {
namespace {

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int HexDigits(const std::string& text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    }));
}

QString What(const protocol::MeterListError& error) {
    switch (error.Problem) {
    case protocol::MeterListProblem::QuoteNotClosed:
        return QStringLiteral("引号没有闭合");
    case protocol::MeterListProblem::TooManyFields:
        return QStringLiteral("字段多于表地址、表类型、名称三项（名称含逗号时须加引号）");
    case protocol::MeterListProblem::Missing:
        return QStringLiteral("为空");
    case protocol::MeterListProblem::NotHex:
        return QStringLiteral("含有十六进制数字以外的字符");
    case protocol::MeterListProblem::AddressLength:
        return QStringLiteral("有 %1 位十六进制数字，应为 14 位").arg(HexDigits(error.Text));
    case protocol::MeterListProblem::UnknownType:
        return QStringLiteral("不是表类型序号 0-7、类型代码（如 0x10）或表类型名称");
    case protocol::MeterListProblem::NotUtf8:
        return QStringLiteral("不是 UTF-8 文本（请将清单存为 UTF-8）");
    case protocol::MeterListProblem::Repeated:
        return QStringLiteral("与第 %1 行的表重复").arg(error.RepeatOf);
    }
    return {};
}

} // namespace

QString MeterListFieldText(protocol::MeterListField field) {
    switch (field) {
    case protocol::MeterListField::Line:
        return QStringLiteral("整行");
    case protocol::MeterListField::Address:
        return QStringLiteral("表地址");
    case protocol::MeterListField::Type:
        return QStringLiteral("表类型");
    case protocol::MeterListField::Name:
        return QStringLiteral("名称");
    }
    return {};
}

QString MeterListFaultText(const protocol::MeterListError& error) {
    QString text = MeterListFieldText(error.Field);
    // A field that is missing has nothing to quote.
    if (error.Problem != protocol::MeterListProblem::Missing)
        text += QStringLiteral("“%1”").arg(Utf8(error.Text));
    return text + QStringLiteral("：") + What(error);
}

QString MeterListErrorText(const protocol::MeterListError& error) {
    return QStringLiteral("第 %1 行，").arg(error.Line) + MeterListFaultText(error);
}

} // namespace mbus::console
