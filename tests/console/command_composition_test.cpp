#include "console_test.h"

#include "console/command_composition.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QtTest/QTest>

namespace mbus::console {
namespace {

constexpr const char* kDefaultRequest = "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 ";

class CommandCompositionTest : public ConsoleTest {
protected:
    void SetUp() override {
        Home.AddFakePort(1);
        Form = MakeForm();
    }

    // Marks edtCMD as edited by hand, so a rebuild shows.
    void HandEditCommand() { Form->edtCMD->setText("hand-edited"); }
    bool Rebuilt() const { return Form->edtCMD->text() != "hand-edited"; }

    std::unique_ptr<TForm1> Form;
};

TEST_F(CommandCompositionTest, TypingAnAddressRegroupsItAndBuildsTheRequestAtFourteenDigits) {
    Form->show();
    Form->edtAddr->setFocus();
    Form->edtAddr->clear();
    EXPECT_EQ(Form->edtCMD->text(), kDefaultRequest) << "an empty address builds nothing";

    // What the field shows after each digit.
    const QStringList shown = QString("1|12|123|12 34|12 345|12 34 56|12 34 567|12 34 56 78|"
                                      "12 34 56 789|12 34 56 78 90|12 34 56 78 901|"
                                      "12 34 56 78 90 12|12 34 56 78 90 123|12 34 56 78 90 12 34")
                                  .split('|');
    const char digits[] = "12345678901234";
    for (int i = 0; i < 14; ++i) {
        QTest::keyClick(Form->edtAddr, digits[i]);
        EXPECT_EQ(Form->edtAddr->text(), shown[i]);
        EXPECT_EQ(Form->edtAddr->cursorPosition(), shown[i].size()) << "the caret stays at the end";
        if (i < 13) {
            EXPECT_EQ(Form->edtCMD->text(), kDefaultRequest) << i;
        }
    }
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 10 34 12 90 78 56 34 12 01 03 1F 90 00 15 16 ");

    // A fifteenth digit still gives seven bytes: rebuilt, same request.
    HandEditCommand();
    QTest::keyClick(Form->edtAddr, '5');
    EXPECT_EQ(Form->edtAddr->text(), "12 34 56 78 90 12 345");
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 10 34 12 90 78 56 34 12 01 03 1F 90 00 15 16 ");

    // A sixteenth gives eight bytes: the command stays as it is.
    HandEditCommand();
    QTest::keyClick(Form->edtAddr, '6');
    EXPECT_EQ(Form->edtAddr->text(), "12 34 56 78 90 12 34 56");
    EXPECT_EQ(Form->edtCMD->text(), "hand-edited");
}

TEST_F(CommandCompositionTest, AddressTidying) {
    HandEditCommand();
    Form->edtAddr->setText("AA AA AA AA AA AA AA\r\n");
    EXPECT_EQ(Form->edtAddr->text(), "AA AA AA AA AA AA AA");
    EXPECT_TRUE(Rebuilt());
    Form->edtAddr->setText("AA\rAA"); // a carriage return standing alone stays
    EXPECT_TRUE(Form->edtAddr->text().contains('\r'));

    Form->edtAddr->setText("aa bb cc dd ee ff 00");
    EXPECT_EQ(Form->edtAddr->text(), "aa bb cc dd ee ff 00");
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 10 00 FF EE DD CC BB AA 01 03 1F 90 00 26 16 ");

    // "G" is no digit but takes a place in the pairs; the fourteen A digits make the address.
    HandEditCommand();
    Form->edtAddr->setText("AGAAAAAAAAAAAAA");
    EXPECT_EQ(Form->edtAddr->text(), "AG AA AA AA AA AA AAA");
    EXPECT_EQ(Form->edtCMD->text(), kDefaultRequest);
}

TEST_F(CommandCompositionTest, DataIdentifierInTheOrderGivenAndNeverShort) {
    Form->cmbDI->setCurrentIndex(0); // "90 1F"
    const QString swapped = "FE FE 68 10 AA AA AA AA AA AA AA 01 03 90 1F 00 D1 16 ";
    EXPECT_EQ(Form->edtCMD->text(), swapped);
    Form->cmbDI->setEditText("1F 90 12 34 56 78 9A BC"); // the first two bytes, nothing else
    EXPECT_EQ(Form->edtCMD->text(), kDefaultRequest);
    Form->cmbDI->setEditText("901F");
    EXPECT_EQ(Form->edtCMD->text(), swapped);

    HandEditCommand();
    for (const char* text : {"", "1", "1F", "1F 9", "x"}) {
        Form->cmbDI->setEditText(text);
        EXPECT_FALSE(Rebuilt()) << text;
    }
}

TEST_F(CommandCompositionTest, MeterTypeChangesOnlyTheTypeByteAndTheSum) {
    Form->cmbType->setCurrentIndex(6); // 燃气表
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 30 AA AA AA AA AA AA AA 01 03 1F 90 00 F1 16 ");

    // Typed text that names no type: the type of the last build stays.
    Form->cmbType->setEditText("燃气");
    Form->edtAddr->setText("12 34 56 78 90 12 34");
    Form->cmbDI->setCurrentIndex(0);
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 30 34 12 90 78 56 34 12 01 03 90 1F 00 35 16 ");
    EXPECT_EQ(ReadFrame[3], 0x30);

    // A hand-edited command lasts until the next change.
    HandEditCommand();
    Form->edtAddr->setText("12 34 56 78 90 12 34");
    EXPECT_FALSE(Rebuilt()) << "the same text is no change";
    Form->cmbType->setEditText("电度表");
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 40 34 12 90 78 56 34 12 01 03 90 1F 00 45 16 ");
}

// Whatever is typed or pasted, tidying ends in a text that tidies to itself (so the nested
// change events stop) and keeps no CR LF pair.
TEST_F(CommandCompositionTest, TidyingAlwaysSettles) {
    const QString alphabet = QStringLiteral("0123456789abcdefAFG \r\n水表中文（）？€😀");
    QRandomGenerator random(188);
    for (int round = 0; round < 400; ++round) {
        QString text;
        const int length = random.bounded(0, 24);
        for (int i = 0; i < length; ++i) {
            const int at = random.bounded(int(alphabet.size()));
            text += alphabet.at(at);
            if (alphabet.at(at).isHighSurrogate())
                text += alphabet.at(at + 1);
        }
        Form->edtAddr->setText(text);
        const QString tidy = Form->edtAddr->text();
        EXPECT_FALSE(tidy.contains("\r\n")) << text.toStdString();
        const std::string again =
            util::GbkToUtf8(util::GroupHexPairs(util::Utf8ToGbk(tidy.toStdString())));
        EXPECT_EQ(QString::fromStdString(again), tidy) << text.toStdString();
    }
}

} // namespace
} // namespace mbus::console
