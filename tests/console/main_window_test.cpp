#include "console_test.h"

#include "console/image_button.h"
#include "console/image_list.h"
#include "console/picture_view.h"
#include "console/status_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest/QTest>

namespace mbus::console {
namespace {

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

class MainWindowTest : public ConsoleTest {
protected:
    void SetUp() override {
        Home.AddFakePort(1);
        Form = MakeForm();
    }

    template <class Widget = QWidget> Widget* Control(const char* name) {
        auto* widget = Form->findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    std::unique_ptr<TForm1> Form;
};

TEST_F(MainWindowTest, WindowAndControlsAtTheirDesignedPlaces) {
    EXPECT_EQ(Form->objectName(), "Form1");
    EXPECT_EQ(Form1, Form.get());
    EXPECT_EQ(Form->windowTitle(), "M-bus测试工具");
    EXPECT_EQ(Form->pos(), QPoint(256, 167));
    EXPECT_EQ(Form->size(), QSize(919, 537));
    EXPECT_FALSE(Form->isVisible()) << "FormCreate runs before the window is shown";

    struct Place {
        const char* Name;
        QRect Geometry;
    };
    const Place places[] = {
        {"sImage2", {32, 48, 129, 161}},     {"sImage1", {8, 240, 169, 113}},
        {"sGroupBox1", {8, 344, 169, 169}},  {"cmbSoftPort", {72, 28, 65, 24}},
        {"cmbSoftBaut", {72, 60, 65, 24}},   {"cbbParity", {72, 92, 65, 24}},
        {"btnComPortEn", {56, 121, 89, 32}}, {"sGroupBox2", {184, 24, 729, 313}},
        {"edtAddr", {72, 28, 129, 21}},      {"cmbDI", {320, 28, 57, 21}},
        {"cmbType", {528, 28, 121, 21}},     {"edtCMD", {88, 60, 369, 21}},
        {"ckbAutoSend", {476, 61, 73, 17}},  {"edtAutoSendInteval", {556, 59, 49, 21}},
        {"btnSend", {668, 55, 49, 25}},      {"redtComRechex", {8, 111, 713, 170}},
        {"ckbLR", {404, 285, 73, 17}},       {"btnSaveComRec", {520, 280, 75, 25}},
        {"sButton1", {616, 280, 73, 25}},    {"sGroupBox3", {182, 344, 731, 169}},
        {"redtDecode", {8, 23, 715, 138}},   {"sToolBar1", {0, 0, 919, 20}},
        {"sStatusBar1", {0, 518, 919, 19}},
    };
    for (const Place& place : places) {
        if (QWidget* widget = Control(place.Name)) {
            EXPECT_EQ(widget->geometry(), place.Geometry) << place.Name;
        }
    }
    // Labels keep their place and grow to their text when the font needs more room.
    const Place labels[] = {
        {"sLabel35", {8, 28, 64, 21}},  {"sLabel36", {8, 64, 64, 21}},
        {"lbl1", {8, 100, 52, 21}},     {"sLabel1", {8, 28, 64, 21}},
        {"sLabel2", {256, 28, 64, 21}}, {"sLabel3", {448, 28, 64, 21}},
        {"sLabel4", {8, 60, 80, 21}},   {"sLabel6", {612, 63, 37, 16}},
        {"sLabel5", {8, 92, 80, 21}},
    };
    for (const Place& label : labels) {
        if (QWidget* widget = Control<QLabel>(label.Name)) {
            EXPECT_EQ(widget->pos(), label.Geometry.topLeft()) << label.Name;
            EXPECT_GE(widget->width(), label.Geometry.width()) << label.Name;
        }
    }
    EXPECT_EQ(Control("cmbSoftPort")->parentWidget(), Form->sGroupBox1);
    EXPECT_EQ(Control("edtCMD")->parentWidget(), Form->sGroupBox2);
    EXPECT_EQ(Control("redtDecode")->parentWidget(), Form->sGroupBox3);
}

TEST_F(MainWindowTest, ControlsStartWithTheirDesignedTexts) {
    EXPECT_EQ(Control<QToolButton>("ToolButton2")->text(), "关于");
    EXPECT_EQ(Form->sGroupBox1->title(), "串口设置");
    EXPECT_EQ(Form->sGroupBox2->title(), "指令收发");
    EXPECT_EQ(Form->sGroupBox3->title(), "数据分析");
    EXPECT_EQ(Form->sGroupBox2->alignment(), Qt::AlignHCenter);
    const std::pair<const char*, const char*> labels[] = {
        {"sLabel35", "串口号："},  {"sLabel36", "波特率："}, {"lbl1", "校验位:"},
        {"sLabel1", "表地址："},   {"sLabel2", "读指令："},  {"sLabel3", "表类型："},
        {"sLabel4", "发送数据："}, {"sLabel6", "ms/次 "},    {"sLabel5", "接收数据："},
    };
    for (const auto& [name, text] : labels) {
        if (auto* label = Control<QLabel>(name)) {
            EXPECT_EQ(label->text(), QString::fromUtf8(text)) << name;
        }
    }

    EXPECT_EQ(Items(Form->cmbSoftBaut), QStringList({"600", "1200", "2400", "4800", "9600", "19200",
                                                     "38400", "57600", "115200"}));
    EXPECT_EQ(Form->cmbSoftBaut->currentText(), "2400");
    EXPECT_EQ(Items(Form->cbbParity), QStringList({"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(Form->cbbParity->currentText(), "Even");
    EXPECT_EQ(Items(Form->cmbDI), QStringList({"90 1F", "1F 90"}));
    EXPECT_EQ(Form->cmbDI->currentText(), "1F 90");
    EXPECT_EQ(Items(Form->cmbType),
              QStringList({"冷水水表", "生活热水水表", "直饮水水表", "中水水表", "热量表（计热量）",
                           "热量表（计冷量）", "燃气表", "电度表"}));
    EXPECT_EQ(Form->cmbType->currentText(), "冷水水表");
    for (QComboBox* combo :
         {Form->cmbSoftPort, Form->cmbSoftBaut, Form->cbbParity, Form->cmbDI, Form->cmbType})
        EXPECT_TRUE(combo->isEditable()) << combo->objectName().toStdString();

    EXPECT_EQ(Form->edtAddr->text(), "AA AA AA AA AA AA AA");
    EXPECT_EQ(Form->edtCMD->text(), "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 ");
    EXPECT_EQ(Form->edtAutoSendInteval->text(), "1000");
    EXPECT_EQ(Form->ckbAutoSend->text(), "定时发送");
    EXPECT_FALSE(Form->ckbAutoSend->isChecked());
    EXPECT_EQ(Form->ckbLR->text(), "自动换行");
    EXPECT_TRUE(Form->ckbLR->isChecked());
    EXPECT_EQ(Form->btnSend->text(), "发送");
    EXPECT_EQ(Form->btnSaveComRec->text(), "保存窗口");
    EXPECT_EQ(Form->sButton1->text(), "清空窗口");
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Form->btnComPortEn->property("ImageIndex").toInt(), kImagePortClosed);

    for (QPlainTextEdit* view : {Form->redtComRechex, Form->redtDecode}) {
        EXPECT_TRUE(view->isReadOnly());
        EXPECT_TRUE(view->toPlainText().isEmpty());
        EXPECT_EQ(view->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        EXPECT_EQ(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }
}

TEST_F(MainWindowTest, StatusBarTimersPicturesAndImages) {
    const StatusBar* bar = Form->sStatusBar1;
    ASSERT_EQ(bar->PanelCount(), 5);
    const char* texts[] = {"串口状态：关闭", "接收：0", "发送：0", "成功解析:0", ""};
    const int widths[] = {200, 120, 120, 120, 50};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(bar->PanelText(i), QString::fromUtf8(texts[i])) << i;
        auto* panel = bar->findChild<QLabel*>(QStringLiteral("Panel%1").arg(i));
        ASSERT_NE(panel, nullptr) << i;
        EXPECT_EQ(panel->width(), widths[i]) << i;
    }

    auto* tmr1 = Form->findChild<QTimer*>(QStringLiteral("tmr1"));
    auto* timer1 = Form->findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_TRUE(tmr1 && timer1);
    EXPECT_TRUE(tmr1->isActive());
    EXPECT_EQ(tmr1->interval(), 5);
    EXPECT_EQ(tmr1->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(timer1->isActive());
    EXPECT_EQ(timer1->interval(), 1000);
    EXPECT_NE(Form->findChild<QFileDialog*>(QStringLiteral("sSaveDialog1")), nullptr);

    EXPECT_TRUE(Form->sImage1->HasPicture());
    EXPECT_TRUE(Form->sImage2->HasPicture());
    const ImageList* images = Form->findChild<ImageList*>(QStringLiteral("slphmglst1"));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->Count(), 8);
    const QImage open = images->Image(kImagePortOpen).pixmap(18, 18).toImage();
    const QImage closed = images->Image(kImagePortClosed).pixmap(18, 18).toImage();
    EXPECT_FALSE(open.isNull());
    EXPECT_FALSE(closed.isNull());
    EXPECT_NE(open, closed) << "the two port states need distinguishable images";
    EXPECT_TRUE(images->Image(8).isNull());
}

TEST_F(MainWindowTest, ResizingMovesOnlyTheToolBarAndTheStatusBar) {
    Form->show();
    Form->resize(1200, 700);
    EXPECT_EQ(Form->sToolBar1->geometry(), QRect(0, 0, 1200, 20));
    EXPECT_EQ(Form->sStatusBar1->geometry(), QRect(0, 681, 1200, 19));
    EXPECT_EQ(Form->sGroupBox2->geometry(), QRect(184, 24, 729, 313));
    EXPECT_EQ(Form->redtComRechex->geometry(), QRect(8, 111, 713, 170));
}

TEST_F(MainWindowTest, TypedTextIsNeverAddedToADropDownList) {
    Form->show();
    Form->cbbParity->setFocus();
    Form->cbbParity->lineEdit()->selectAll();
    QTest::keyClicks(Form->cbbParity, "Ev");
    EXPECT_EQ(Form->cbbParity->currentText(), "Ev") << "typed text is not completed";
    QTest::keyClick(Form->cbbParity, Qt::Key_Return);
    EXPECT_EQ(Form->cbbParity->count(), 5);
}

TEST_F(MainWindowTest, FormIsNoLongerForm1OnceDestroyed) {
    Form.reset();
    EXPECT_EQ(Form1, nullptr);
}

} // namespace
} // namespace mbus::console
