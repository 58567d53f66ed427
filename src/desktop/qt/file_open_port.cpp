#include "desktop/qt/file_open_port.h"

#include <QFileDialog>

#include "dialogs/qt/message_port.h"

namespace tarvik {

std::optional<std::string> QtFileOpenPort::ChooseImageFile()
{
    ArrowWhileModal arrow;
    QFileDialog dialog(owner_.data(), QString(), startDirectory_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name goes through even when no such file exists: reading it then fails with
    // the program's own messages, as for any file that cannot be read.
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog, so that the filter behaves the same on every desktop; read-only, so
    // that nobody can rename or delete an image from it.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                      QFileDialog::ReadOnly);
    dialog.setNameFilter(QString::fromLatin1(IMAGE_FILE_FILTER));
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.front().toStdString();
}

}  // namespace tarvik
