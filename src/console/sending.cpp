#include "console/sending.h"

#include "console/exchange_monitor.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/traffic_counters.h"
#include "console/traffic_view.h"
#include "serial/com_port.h"
#include "util/gbk_text.h"
#include "util/integer_text.h"
#include "util/string_c.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace mbus::console {
namespace {

// Hands the bytes to the port and counts them; raises what the port raises. While a close is in
// progress the port takes nothing and says nothing: that is a failed send, not bytes sent. Gives
// the id of the exchange the bytes opened.
std::uint64_t SendAndCount(const std::string& bytes) {
    if (Form1->ComPort->PortState() == serial::psClosing)
        throw std::runtime_error("the port is closing");
    Form1->ComPort->SendString(bytes);
    SendCount += static_cast<std::uint32_t>(bytes.size());
    ShowSendCount();
    if (!bytes.empty()) {
        ShowTxHex(bytes);
        Form1->LogTraffic("TX", bytes);
    }
    return NoteRequestSent(bytes);
}

} // namespace

std::uint64_t SendRequest(const std::string& bytes) {
    return SendAndCount(bytes);
}

std::string CommandBytes() {
    // Typed text is scanned as the GBK bytes it was on the engineers' platform.
    const std::string text = util::Utf8ToGbk(Form1->edtCMD->text().toStdString());
    std::vector<std::uint8_t> buffer(kSendBufferSize);
    const std::size_t count = util::HexToBytes(text, buffer);
    if (count > buffer.size())
        throw std::length_error("the command is longer than the send buffer");
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count)};
}

int FirstForeignCommandCharacter() {
    const QString text = Form1->edtCMD->text();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool allowed = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                             (c >= u'A' && c <= u'F') || c == u' ' || c == u'\r' || c == u'\n';
        if (!allowed)
            return static_cast<int>(i);
    }
    return -1;
}

void TForm1::btnSendClick(QObject* /*Sender*/) {
    if (const int bad = FirstForeignCommandCharacter(); bad >= 0) {
        const QString text = edtCMD->text();
        ShowMessageBox(QStringLiteral("发送数据第 %1 个字符“%2”不是十六进制数字，未发送")
                           .arg(bad + 1)
                           .arg(text.mid(bad, text[bad].isHighSurrogate() ? 2 : 1)),
                       QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    try {
        SendAndCount(CommandBytes());
    } catch (...) {
        ShowMessageBox(QStringLiteral("错误：串口未打开"), QStringLiteral("错误"),
                       QMessageBox::Critical);
    }
}

void TForm1::ckbAutoSendClick(QObject* /*Sender*/) {
    if (!ckbAutoSend->isChecked()) {
        Timer1->stop();
        return;
    }
    // The period is read only now; a value of 0 or less leaves timed sending off.
    const std::int32_t period = util::StrToInt(edtAutoSendInteval->text().toStdString());
    if (period > 0) {
        Timer1->setInterval(period);
        Timer1->start();
    }
}

void TForm1::Timer1Timer(QObject* /*Sender*/) {
    // Never a request over a meter's answer: while the last one waits, this send waits for the
    // end of its exchange (the reply complete, or the reply time-out passed).
    if (Exchanges->Waiting()) {
        Exchanges->HoldTimedSend();
        return;
    }
    if (ckbAutoSend->isChecked() && FirstForeignCommandCharacter() >= 0)
        return; // not hex text: nothing is sent, silently
    try {
        SendAndCount(ckbAutoSend->isChecked() ? CommandBytes() : std::string());
    } catch (...) {
        // Timed sends fail silently; the next tick tries again.
    }
}

} // namespace mbus::console
