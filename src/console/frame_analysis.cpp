#include "console/frame_analysis.h"

#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "protocol/response_decoder.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QLineEdit>
#include <QTextCursor>

#include <algorithm>
#include <array>
#include <cstdint>

namespace mbus::console {

void AnalyseFrame(const std::string& Data) {
    // The address only gates decoding: the decoder does not compare it with the reply. An
    // address text of more than seven bytes gives no decoding, so it is converted in full.
    const std::string address =
        util::HexToBytes(util::Utf8ToGbk(Form1->edtAddr->text().toStdString()));
    if (address.size() != 7)
        return;

    std::array<std::uint8_t, kAnalyseBufferSize> buffer{};
    const std::size_t count = std::min(Data.size(), buffer.size());
    std::copy_n(Data.begin(), count, buffer.begin());
    const std::string text = protocol::DecodeMeterData({buffer.data(), count});

    // Replies are told from noise by the length of the decoded text in bytes, as the engineers'
    // platform counted it.
    if (util::Utf8ToGbk(text).size() <= 5)
        return;
    ++ParsedCount;
    QTextCursor cursor(Form1->redtDecode->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromStdString(text) + QStringLiteral("\r\n"));
    ShowParsedCount();
}

} // namespace mbus::console
