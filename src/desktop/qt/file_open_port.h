#pragma once
// The file-open dialog for image files: one filter, "*.BIN", which takes .BIN in any letter
// case (the first platform's file systems ignored case), and nothing that could change a file.

#include <QPointer>
#include <QString>
#include <QWidget>

#include "desktop/qt/app_services.h"

namespace tarvik {

// The filter as the dialog is given it: shown as "*.BIN", matching every case of the suffix.
inline constexpr char IMAGE_FILE_FILTER[] = "*.BIN (*.[Bb][Ii][Nn])";
inline constexpr char IMAGE_FILE_PATTERN[] = "*.[Bb][Ii][Nn]";

class QtFileOpenPort final : public FileOpenPort {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    // Where the dialog starts; empty for the dialog's own choice.
    void SetStartDirectory(const QString& directory) { startDirectory_ = directory; }

    std::optional<std::string> ChooseImageFile() override;

private:
    QPointer<QWidget> owner_;
    QString startDirectory_;
};

}  // namespace tarvik
