#include "desktop/qt/kelbrin_doc.h"

#include <QFileInfo>

#include "res/resource_ids.h"
#include "res/shell_resources.h"

namespace tarvik {
namespace {

QString DefaultTitle()
{
    const std::string_view name =
        res::StringPart(res::LoadString(res::IDR_MAINFRAME), res::DOC_DOCUMENT_NAME);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

CKelbrinDoc::CKelbrinDoc() : title_(DefaultTitle()) {}

void CKelbrinDoc::OnNewDocument()
{
    title_ = DefaultTitle();
}

void CKelbrinDoc::OnOpenDocument(const QString& path)
{
    title_ = QFileInfo(path).fileName();
}

}  // namespace tarvik
