#include "desktop/qt/kelbrin_view.h"

#include <QPainter>

#include "desktop/qt/kelbrin_app.h"
#include "commands/startup.h"
#include "dialogs/browse_target_dlg.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/lan_card_dlg.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/pictures.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

int RunStartup(CKelbrinApp& app)
{
    AppServices& services = app.Services();
    // The selection dialog exists for the whole sequence and is shown only when two or more
    // adapters qualify. There is no main window yet to own it.
    CLanCardDlg selection(services.Runner, nullptr);
    return services.Network.Start(selection, services.Port);
}

}  // namespace

CKelbrinView::CKelbrinView(CKelbrinApp& app, QWidget* parent)
    : QWidget(parent), app_(app), startupResult_(RunStartup(app)),
      picture_(res::DrawBackgroundBitmap())
{
    setObjectName(QStringLiteral("view"));
    setAutoFillBackground(false);
}

CKelbrinView::~CKelbrinView()
{
    app_.AdapterBinding().Close();
}

bool CKelbrinView::OnCommand(int id)
{
    switch (id) {
    case res::ID_FILE_OPEN:
        OnSelectBinFile();
        return true;
    case res::ID_BROWSE_TARGET:
        OnBrowseTarget();
        return true;
    case res::ID_PREPARE_UPGRADE:
        OnPrepareUpgrade();
        return true;
    default:
        return false;
    }
}

void CKelbrinView::OnSelectBinFile()
{
    RunSelectBinFile(app_.Context(), app_.Services().FileOpen.ChooseImageFile());
}

void CKelbrinView::OnBrowseTarget()
{
    RunBrowseTarget(app_.Context());
}

void CKelbrinView::OnPrepareUpgrade()
{
    RunPrepareUpgrade(app_.Context());
}

void CKelbrinView::paintEvent(QPaintEvent* event)
{
    (void)event;
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.drawImage(QPoint(0, 0), picture_, QRect(0, 0, VIEW_COPY_WIDTH, VIEW_COPY_HEIGHT));
}

}  // namespace tarvik
