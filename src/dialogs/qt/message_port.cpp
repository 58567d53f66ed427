#include "dialogs/qt/message_port.h"

#include <QApplication>
#include <QMessageBox>

#include "commands/outcomes.h"
#include "dialogs/dialog.h"
#include "dialogs/qt/template_dialog.h"
#include "res/pictures.h"
#include "res/resource_ids.h"

namespace tarvik {

ArrowWhileModal::ArrowWhileModal()
{
    if (QApplication::overrideCursor() != nullptr) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        pushed_ = true;
    }
}

ArrowWhileModal::~ArrowWhileModal()
{
    if (pushed_) {
        QApplication::restoreOverrideCursor();
    }
}

void QtCommandPort::ShowMessage(std::string_view text)
{
    ArrowWhileModal arrow;
    QMessageBox box(QMessageBox::Warning,
                    QString::fromUtf8(APPLICATION_TITLE.data(),
                                      static_cast<qsizetype>(APPLICATION_TITLE.size())),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok, owner_.data());
    box.setTextFormat(Qt::PlainText);
    box.setWindowIcon(res::ProgramIcon());
    box.exec();
}

void QtCommandPort::BeginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtCommandPort::EndWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

int ExecDialogRunner::RunModal(CDialog& dialog)
{
    ArrowWhileModal arrow;
    const int result = QtWindow(dialog).exec();
    return result == QDialog::Accepted   ? res::IDOK
           : result == QDialog::Rejected ? res::IDCANCEL
                                         : result;
}

}  // namespace tarvik
