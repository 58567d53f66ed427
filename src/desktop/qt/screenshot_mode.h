#pragma once
// `tarvik --screenshots DIR`: runs the program on the lab, walks through Select BIN File,
// Browse Target and an upgrade from Prepare Upgrade the way a user would, and saves pictures
// of the windows on the way into DIR. Pictures for the README come from here.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>

#include "desktop/qt/app_services.h"
#include "dialogs/dialog_runner.h"

namespace tarvik {

class CKelbrinApp;

class ScreenshotSession final : public DialogRunner, public FileOpenPort, public CommandPort {
public:
    ScreenshotSession(QString directory, std::string imagePath, std::string targetName);

    // Walks through the commands; 0 when every picture was saved and no message came up.
    int Run(CKelbrinApp& app);
    const QStringList& Saved() const { return saved_; }

    int RunModal(CDialog& dialog) override;
    std::optional<std::string> ChooseImageFile() override;
    void ShowMessage(std::string_view text) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

private:
    bool Save(QWidget& window, const QString& name);

    QString directory_;
    std::string imagePath_;
    QString targetName_;
    QStringList saved_;
    bool failed_ = false;
};

}  // namespace tarvik
