// The console's words for what is wrong in a meter list: each error names the line, the field
// and what the field holds, in Chinese ("第 3 行，表地址“0000012”：有 7 位十六进制数字，应为 14
// 位"). The list pane shows them when a list is loaded and on the rows that are wrong.
#pragma once

#include <QString>

#include "protocol/meter_list.h"

namespace mbus::console {

// The field's name in the list pane: "表地址", "表类型", "名称", or "整行".
QString MeterListFieldText(protocol::MeterListField field);

// What is wrong with the field (or the line), without the line number: "表地址“0000012”：有 7
// 位十六进制数字，应为 14 位".
QString MeterListFaultText(const protocol::MeterListError& error);

// The whole message of an error: "第 3 行，" followed by MeterListFaultText.
QString MeterListErrorText(const protocol::MeterListError& error);

} // namespace mbus::console
