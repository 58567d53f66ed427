// The Qt program's file-open dialog: its one filter matches the suffix in any case, and a
// typed name of a file that does not exist goes through to the program's own messages.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "desktop/qt/file_open_port.h"

namespace tarvik {
namespace {

TEST(ImageFileFilterTest, MatchesTheSuffixInAnyCase)
{
    QTemporaryDir directory;
    for (const char* name : {"a.BIN", "b.bin", "c.Bin", "d.bIN", "e.txt", "f.bin.txt", "gbin"}) {
        QFile file(directory.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QStringList matched =
        QDir(directory.path())
            .entryList({QString::fromLatin1(IMAGE_FILE_PATTERN)}, QDir::Files, QDir::Name);
    EXPECT_EQ(matched, (QStringList{"a.BIN", "b.bin", "c.Bin", "d.bIN"}));
    EXPECT_TRUE(QString::fromLatin1(IMAGE_FILE_FILTER).startsWith("*.BIN ("));
}

TEST(FileOpenDialogTest, ATypedNameOfAFileThatDoesNotExistGoesThrough)
{
    QTemporaryDir directory;
    const QString missing = directory.filePath(QStringLiteral("missing.bin"));
    QtFileOpenPort port;
    port.SetStartDirectory(directory.path());
    int attempts = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                            : nullptr;
        if (name != nullptr && attempts++ == 0) {
            // Typed into the name box, as a user would.
            name->setText(QStringLiteral("missing.bin"));
            static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        } else if (QWidget* modal = QApplication::activeModalWidget()) {
            // A dialog that refused the name (or its warning) is closed, so the test ends.
            modal->close();
        }
    });
    answer.start(50);
    const std::optional<std::string> chosen = port.ChooseImageFile();
    answer.stop();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, missing.toStdString());
}

}  // namespace
}  // namespace tarvik
