// Clearing while a reply comes in, and saving the traffic view.
#include "meter_session.h"
#include "save_dialog_answer.h"

#include "console/frame_reception.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "console/traffic_file.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>

#include <stdexcept>

namespace mbus::console {
namespace {

using ClearAndSaveTest = MeterSession;

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The bytes received before a clear are dropped; the rest of the reply makes a frame of its own.
TEST_F(ClearAndSaveTest, ClearWhileHalfAReplyIsInDropsThatHalf) {
    StartWithSim({"--split", "2:300"});
    OpenPort();
    bool cleared = false;
    QTimer clearOnFirstBytes; // runs at every turn of the event loop, well inside the quiet gap
    QObject::connect(&clearOnFirstBytes, &QTimer::timeout, [&] {
        if (cleared || RxFrame.RecData.empty())
            return;
        cleared = true;
        Form->sButton1->click();
        EXPECT_EQ(Panel(*Form, 1), "接收：0");
        EXPECT_EQ(Panel(*Form, 2), "发送：0");
        EXPECT_EQ(Panel(*Form, 3), "成功解析：0");
    });
    clearOnFirstBytes.start(0);
    SendAndWaitForLines(1);
    clearOnFirstBytes.stop();

    ASSERT_TRUE(cleared);
    const QString line = ViewLines(*Form->redtComRechex).value(0);
    EXPECT_FALSE(line.startsWith("FE FE 68")) << line.toStdString();
    EXPECT_TRUE(line.endsWith(" 16")) << line.toStdString();
    EXPECT_EQ(Panel(*Form, 1), QStringLiteral("接收：%1").arg(RecvCount));
    EXPECT_GT(RecvCount, 0u);
    EXPECT_EQ(ParsedCount, 0u);
    EXPECT_EQ(SendCount, 0u);
    EXPECT_EQ(Panel(*Form, 0), "串口状态：打开");
}

// The dialog starts in the documents folder with a name of the moment; a new name without an
// extension gets ".txt"; the file holds the view byte for byte and is replaced without a question.
TEST_F(ClearAndSaveTest, SavesTheViewByteForByteAndReplacesWithoutAsking) {
    StartWithSim();
    QTemporaryDir folder;
    const QString path = folder.filePath("traffic");
    const QString saved = path + ".txt";
    {
        const SaveDialogAnswer answer(path);
        Form->btnSaveComRec->click();
        EXPECT_EQ(answer.Filters, QStringList{"*.TXT (*.txt)"});
        EXPECT_EQ(answer.Directory, UserDocumentsFolder());
        EXPECT_TRUE(QRegularExpression("^mbus-\\d{8}-\\d{6}\\.txt$")
                        .match(answer.Proposed.value(0).section('/', -1))
                        .hasMatch())
            << answer.Proposed.value(0).toStdString();
        EXPECT_FALSE(answer.ConfirmsOverwrite);
        EXPECT_TRUE(answer.Suffix.isEmpty());
    }
    EXPECT_EQ(FileBytes(saved), QByteArray());
    EXPECT_FALSE(QFile::exists(path));

    OpenPort();
    SendAndWaitForLines(1);
    SendAndWaitForLines(2);
    const QStringList lines = ViewLines(*Form->redtComRechex);
    {
        const SaveDialogAnswer answer(path);
        Form->btnSaveComRec->click();
    }
    EXPECT_EQ(FileBytes(saved), (lines[0] + "\r\n" + lines[1] + "\r\n").toLatin1());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ClearAndSaveTest, SaveIntoAFolderThatCannotBeWrittenShowsTheErrorBox) {
    StartWithSim();
    OpenPort();
    SendAndWaitForLines(1);
    const QString before = Form->redtComRechex->toPlainText();
    // Not even the superuser creates files there.
    const QString path = "/sys/MbusTest.TXT";
    {
        const SaveDialogAnswer answer(path);
        Form->btnSaveComRec->click();
    }
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Cannot create file \"/sys/MbusTest.TXT\". Access is denied.");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[0].Caption, QString::fromUtf8(kFormCaption));
    EXPECT_EQ(Form->redtComRechex->toPlainText(), before);
    EXPECT_FALSE(QFile::exists(path));
}

// A failed save names its cause: a full disk, a folder given as the file name.
TEST_F(ClearAndSaveTest, AFailedSaveNamesItsCause) {
    StartWithSim();
    OpenPort();
    SendAndWaitForLines(1);
    {
        const SaveDialogAnswer answer("/dev/full"); // takes the file, then has no room for it
        Form->btnSaveComRec->click();
    }
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "There is not enough space on the disk.");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);

    QTemporaryDir folder;
    EXPECT_THAT([&] { WriteTrafficFile(folder.path().toStdString(), "68 16"); },
                ::testing::ThrowsMessage<std::runtime_error>(
                    "Cannot create file \"" + folder.path().toStdString() +
                    "\". An operation is not supported on a directory."));
}

} // namespace
} // namespace mbus::console
