#include "console/command_composition.h"

#include "console/combo_selection.h"
#include "console/main_window.h"
#include "protocol/meter_type.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QComboBox>
#include <QLineEdit>

namespace mbus::console {

protocol::ReadFrameBuffer ReadFrame{};

namespace {

// Typed texts are counted and scanned as the GBK bytes they were on the engineers' platform.
std::string GbkBytes(const QString& text) {
    return util::Utf8ToGbk(text.toStdString());
}

QString FromGbk(const std::string& bytes) {
    return QString::fromStdString(util::GbkToUtf8(bytes));
}

// Sets the text as the platform's edit control does: only when it differs (an unchanged field
// raises no change event and keeps its caret), and then with the caret at the start, so the field
// shows the text from its beginning.
void SetEditText(QLineEdit& edit, const QString& text) {
    if (edit.text() == text)
        return;
    edit.setText(text);
    edit.setCursorPosition(0);
}

} // namespace

void RefreshCommand() {
    const std::string address = util::HexToBytes(GbkBytes(Form1->edtAddr->text()));
    if (address.size() != 7)
        return;
    const std::string dataId = util::HexToBytes(GbkBytes(Form1->cmbDI->currentText()));
    if (dataId.size() < 2)
        return;
    const std::uint8_t typeCode = protocol::MeterTypeCode(SelectedItemIndex(*Form1->cmbType))
                                      .value_or(ReadFrame[protocol::kFrameTypeOffset]);

    protocol::BuildReadFrame(ReadFrame, util::AsBytes(address).first<7>(), typeCode,
                             protocol::kControlRead, util::AsBytes(dataId).first<2>());
    std::string text;
    util::BytesToHex(ReadFrame, text);
    SetEditText(*Form1->edtCMD, QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void TForm1::edtAddrChange(QObject* /*Sender*/) {
    // Setting the text below raises this handler again, nested, on the new text; a tidy text is
    // left alone, which ends the nesting.
    QString text = edtAddr->text();
    for (qsizetype at; (at = text.indexOf(QLatin1String("\r\n"))) >= 0;)
        text.remove(at, 2);
    SetEditText(*edtAddr, text);

    // Whether the bytes other than blanks come in pairs (none counts as pairs).
    const bool paired = util::RemoveSpaces(GbkBytes(edtAddr->text())).size() % 2 == 0;

    SetEditText(*edtAddr, FromGbk(util::GroupHexPairs(GbkBytes(edtAddr->text()))));
    if (paired) {
        edtAddr->deselect();
        edtAddr->setCursorPosition(int(edtAddr->text().size()));
    }
    RefreshCommand();
}

void TForm1::cmbTypeChange(QObject* /*Sender*/) {
    RefreshCommand();
}

void TForm1::cmbDIChange(QObject* /*Sender*/) {
    RefreshCommand();
}

} // namespace mbus::console
