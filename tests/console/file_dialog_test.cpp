// A file dialog accepted while the name field's completion list is open leaves no
// popup behind: one left open takes the next click anywhere in the console for itself.
#include "console_test.h"

#include "console/file_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace mbus::console {
namespace {

TEST(FileDialogTest, AcceptedWithItsCompletionListOpenLeavesNoPopup) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* name : {"line-a.csv", "line-b.csv"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFileDialog dialog(nullptr, QStringLiteral("打开"), folder.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    bool popupSeen = false;
    QTimer::singleShot(0, &dialog, [&] {
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        // Typed as a user does: the completion list opens on what the folder holds, and the
        // dialog is accepted while it is still up.
        dialog.activateWindow(); // the list opens for a field that has the focus
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("line-"));
        popupSeen =
            WaitUntil([&] { return name->completer() && name->completer()->popup()->isVisible(); });
        QTest::keyClicks(name, QStringLiteral("a.csv"));
        static_cast<QDialog&>(dialog).accept(); // QFileDialog::accept, as OK does
    });
    QTimer::singleShot(5000, &dialog, [&] { dialog.reject(); }); // no endless wait
    EXPECT_TRUE(RunFileDialog(dialog));
    EXPECT_TRUE(popupSeen);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

} // namespace
} // namespace mbus::console
