#include "console_test.h"

#include "console/image_button.h"
#include "console/image_list.h"
#include "console/picture_view.h"
#include "console/qt_translation.h"
#include "console/rich_text_view.h"
#include "console/status_bar.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <QtTest/QTest>

namespace mbus::console {
namespace {

class MainWindowTest : public ConsoleTest {
protected:
    void SetUp() override {
        Home.AddFakePort(1);
        Form = MakeForm();
    }
    std::unique_ptr<TForm1> Form;
};

// Outside checks find controls by name and place; a control without its name is lost to them.
TEST_F(MainWindowTest, ControlsCarryTheirNamesAtTheirDesignedPlaces) {
    EXPECT_EQ(Form1, Form.get());
    EXPECT_EQ(Form->windowTitle(), "M-bus测试工具");
    EXPECT_EQ(Form->geometry(), QRect(256, 167, 919, 537));
    EXPECT_FALSE(Form->isVisible()) << "FormCreate runs before the window is shown";
    const std::pair<const char*, QRect> places[] = {
        {"sImage2", {32, 48, 129, 161}},
        {"sImage1", {8, 240, 169, 113}},
        {"sGroupBox1", {8, 344, 169, 169}},
        {"sLabel35", {8, 28, 64, 21}},
        {"cmbSoftPort", {72, 28, 65, 24}},
        {"cmbSoftBaut", {72, 60, 65, 24}},
        {"cbbParity", {72, 92, 65, 24}},
        {"btnComPortEn", {56, 121, 89, 32}},
        {"sGroupBox2", {184, 24, 729, 313}},
        {"edtAddr", {72, 28, 129, 21}},
        {"cmbDI", {320, 28, 57, 21}},
        {"cmbType", {528, 28, 121, 21}},
        {"edtCMD", {88, 60, 369, 21}},
        {"ckbAutoSend", {476, 61, 73, 17}},
        {"edtAutoSendInteval", {556, 59, 49, 21}},
        {"btnSend", {668, 55, 49, 25}},
        {"redtComRechex", {8, 111, 713, 170}},
        {"ckbLR", {404, 285, 73, 17}},
        {"btnSaveComRec", {520, 280, 75, 25}},
        {"sButton1", {616, 280, 73, 25}},
        {"sGroupBox3", {182, 344, 731, 169}},
        {"redtDecode", {8, 23, 715, 138}},
        {"sToolBar1", {0, 0, 919, 20}},
        {"sStatusBar1", {0, 518, 919, 19}},
    };
    for (const auto& [name, geometry] : places) {
        const auto* widget = Form->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(widget, nullptr) << name;
        if (qobject_cast<const QLabel*>(widget)) { // labels may grow to their text
            EXPECT_EQ(widget->pos(), geometry.topLeft()) << name;
            EXPECT_GE(widget->width(), geometry.width()) << name;
        } else {
            EXPECT_EQ(widget->geometry(), geometry) << name;
        }
    }
    for (const char* name : {"ToolButton2", "sLabel36", "lbl1", "sLabel1", "sLabel2", "sLabel3",
                             "sLabel4", "sLabel5", "sLabel6", "sSaveDialog1", "slphmglst1"})
        EXPECT_NE(Form->findChild<QObject*>(QLatin1String(name)), nullptr) << name;
}

TEST_F(MainWindowTest, StartingStateOfWhatOtherHandlersRead) {
    const char* panels[] = {"串口状态：关闭", "接收：0", "发送：0", "成功解析:0", ""};
    const int widths[] = {200, 120, 120, 120, 50};
    ASSERT_EQ(Form->sStatusBar1->PanelCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Form->sStatusBar1->PanelText(i), QString::fromUtf8(panels[i])) << i;
        EXPECT_EQ(Form->sStatusBar1->findChild<QLabel*>(QStringLiteral("Panel%1").arg(i))->width(),
                  widths[i]);
    }
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 ");
    EXPECT_EQ(Form->cmbSoftBaut->currentText(), "2400");
    EXPECT_EQ(Form->cbbParity->currentText(), "Even");
    EXPECT_EQ(Form->cmbType->count(), 8);
    EXPECT_EQ(Form->cmbType->itemText(4), "热量表（计热量）");
    EXPECT_EQ(Form->btnComPortEn->property("ImageIndex").toInt(), kImagePortClosed);

    EXPECT_TRUE(Form->tmr1->isActive());
    EXPECT_EQ(Form->tmr1->interval(), 5);
    EXPECT_EQ(Form->tmr1->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_EQ(Form->Timer1->interval(), 1000);
}

TEST_F(MainWindowTest, ArtworkLoadsAndThePortStatesLookDifferent) {
    EXPECT_TRUE(Form->sImage1->HasPicture());
    EXPECT_TRUE(Form->sImage2->HasPicture());
    const QImage open = Form->slphmglst1->Image(kImagePortOpen).pixmap(18, 18).toImage();
    const QImage closed = Form->slphmglst1->Image(kImagePortClosed).pixmap(18, 18).toImage();
    EXPECT_FALSE(open.isNull());
    EXPECT_NE(open, closed);
}

// The designed size is the smallest: every control stays in reach. Room beyond it goes to the
// traffic and decode views (in the proportion of their designed heights); the controls right of
// the command field and below the traffic view move with the edges; back at the designed size,
// every control is at its designed place again.
TEST_F(MainWindowTest, TheViewsGrowWithTheWindowAboveItsDesignedSize) {
    Form->show();
    EXPECT_EQ(Form->minimumSize(), QSize(919, 537));
    Form->resize(600, 400);
    EXPECT_EQ(Form->size(), QSize(919, 537));

    Form->resize(1200, 700); // 281 wider, 163 taller: 89 for the traffic view, 74 for decoding
    EXPECT_EQ(Form->sToolBar1->geometry(), QRect(0, 0, 1200, 20));
    EXPECT_EQ(Form->sStatusBar1->geometry(), QRect(0, 681, 1200, 19));
    EXPECT_EQ(Form->sGroupBox2->geometry(), QRect(184, 24, 1010, 402));
    EXPECT_EQ(Form->redtComRechex->geometry(), QRect(8, 111, 994, 259));
    EXPECT_EQ(Form->edtCMD->geometry(), QRect(88, 60, 650, 21));
    EXPECT_EQ(Form->btnSend->geometry(), QRect(949, 55, 49, 25));
    EXPECT_EQ(Form->sButton1->geometry(), QRect(897, 369, 73, 25));
    EXPECT_EQ(Form->sGroupBox3->geometry(), QRect(182, 433, 1012, 243));
    EXPECT_EQ(Form->redtDecode->geometry(), QRect(8, 23, 996, 212));
    EXPECT_EQ(Form->sGroupBox1->geometry(), QRect(8, 433, 169, 169));
    for (const QWidget* widget : Form->findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->parentWidget() != nullptr && !widget->isWindow()) {
            EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()))
                << widget->objectName().toStdString();
        }
    }

    Form->resize(919, 537);
    EXPECT_EQ(Form->sGroupBox2->geometry(), QRect(184, 24, 729, 313));
    EXPECT_EQ(Form->redtDecode->geometry(), QRect(8, 23, 715, 138));
    EXPECT_EQ(Form->btnSend->geometry(), QRect(668, 55, 49, 25));
}

// Qt's own texts (message box buttons, file dialogs) speak Chinese like the console.
TEST_F(MainWindowTest, QtsOwnTextsAreChinese) {
    QCoreApplication& application = *QCoreApplication::instance();
    ASSERT_TRUE(InstallQtTranslation(application)) << "qt6-translations-l10n is not installed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "取消");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Save As"), "另存为");
    for (QTranslator* translator : application.findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

// The default address fits its field whole with the fonts the install script brings: with the
// caret at the end, the first character is still in view.
TEST_F(MainWindowTest, TheDefaultAddressIsShownWhole) {
    Form->show();
    QLineEdit& edit = *Form->edtAddr;
    EXPECT_EQ(edit.text(), "AA AA AA AA AA AA AA");
    edit.setCursorPosition(int(edit.text().size()));
    edit.grab(); // the field scrolls its text while it paints
    EXPECT_EQ(edit.cursorPositionAt(QPoint(3, edit.height() / 2)), 0)
        << "text width " << edit.fontMetrics().horizontalAdvance(edit.text()) << " in a field of "
        << edit.width() << " (" << edit.font().family().toStdString() << ")";
}

// Qt's editable lists complete typed text and add it as an item on Enter; these lists do
// neither, so a typed text stays what was typed.
TEST_F(MainWindowTest, TypedTextIsNeitherCompletedNorAdded) {
    Form->show();
    Form->cbbParity->setFocus();
    Form->cbbParity->lineEdit()->selectAll();
    QTest::keyClicks(Form->cbbParity, "Ev");
    EXPECT_EQ(Form->cbbParity->currentText(), "Ev");
    QTest::keyClick(Form->cbbParity, Qt::Key_Return);
    EXPECT_EQ(Form->cbbParity->count(), 5);
}

} // namespace
} // namespace mbus::console
