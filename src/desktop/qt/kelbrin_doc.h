#pragma once
// The one document: the selected image file and its descriptor. It is never stored and never
// loaded: a file dropped on the window or named on the command line only gives the window its
// title; only Select BIN File chooses the image.

#include <QString>

#include "dialogs/dialog_context.h"

namespace tarvik {

class CKelbrinDoc : public ImageSelection {
public:
    CKelbrinDoc();

    // "Upgrade Utility" for a new document, else the opened file's name.
    const QString& Title() const { return title_; }

    // A new document: only the title goes back; the image stays selected.
    void OnNewDocument();
    // A document file was opened: it names the window, nothing more.
    void OnOpenDocument(const QString& path);

private:
    QString title_;
};

}  // namespace tarvik
