#include "desktop/qt/main_frame.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <ctime>

#include "desktop/qt/kelbrin_app.h"
#include "desktop/qt/kelbrin_view.h"
#include "commands/startup.h"
#include "res/pictures.h"
#include "res/resource_ids.h"
#include "res/shell_resources.h"

namespace tarvik {
namespace {

QString Text(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString ReadyText()
{
    return Text(res::LoadString(res::IDS_IDLE_MESSAGE));
}

}  // namespace

QString FormatLocalTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128] = {};
    const std::size_t length = std::strftime(text, sizeof text, "%X", &local);
    return QString::fromLocal8Bit(text, static_cast<qsizetype>(length));
}

CMainFrame::CMainFrame(CKelbrinApp& app) : app_(app), idleText_(ReadyText())
{
    setObjectName(QStringLiteral("mainFrame"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(res::ProgramIcon());
    CreateMenu();
    CreateAccelerators();

    // The view's making brings the adapter up, before the toolbar and the status bar exist.
    view_ = new CKelbrinView(app_, this);
    setCentralWidget(view_);
    if (!StartupLetsProgramRun(view_->StartupResult())) {
        return;
    }

    CreateToolBar();
    CreateStatusBar();
    UpdateTitle();
    resize(800, 600);
    created_ = true;
}

CMainFrame::~CMainFrame()
{
    if (app_.Context().StatusBar == this) {
        app_.Context().StatusBar = nullptr;
    }
}

QAction* CMainFrame::MakeAction(int id)
{
    auto* action = new QAction(this);
    action->setData(id);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    action->setStatusTip(Text(res::PromptStatusText(id)));
    action->setToolTip(Text(res::PromptTooltip(id)));
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_[id] = action;
    return action;
}

QAction* CMainFrame::Action(int id) const
{
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void CMainFrame::CreateMenu()
{
    for (const res::MenuPopup& popup : res::MainMenu()) {
        QMenu* menu = menuBar()->addMenu(Text(popup.Text));
        for (const res::MenuItem& item : popup.Items) {
            if (item.CommandId == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* action = MakeAction(item.CommandId);
            action->setText(Text(item.Text));
            menu->addAction(action);
        }
    }
}

void CMainFrame::CreateAccelerators()
{
    for (const res::Accelerator& accelerator : res::Accelerators()) {
        QAction* action = Action(accelerator.CommandId);
        if (action == nullptr) {
            action = MakeAction(accelerator.CommandId);
            addAction(action);
        }
        QList<QKeySequence> keys = action->shortcuts();
        keys.append(QKeySequence(Text(accelerator.Keys), QKeySequence::PortableText));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
    }
}

void CMainFrame::CreateToolBar()
{
    toolBar_ = addToolBar(QStringLiteral("Standard"));
    toolBar_->setObjectName(QStringLiteral("toolbar128"));
    toolBar_->setIconSize(QSize(res::TOOLBAR_BUTTON_SIZE, res::TOOLBAR_BUTTON_SIZE));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->setMovable(true);
    const QImage strip = res::DrawToolbarStrip();
    int index = 0;
    for (int id : res::ToolbarCommands()) {
        QAction* action = Action(id);
        if (action == nullptr) {
            action = MakeAction(id);
        }
        action->setIcon(QIcon(QPixmap::fromImage(res::ToolbarImage(strip, index++))));
        toolBar_->addAction(action);
    }
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    statusBar_ = bar;
    timePane_ = new QLabel(bar);
    timePane_->setObjectName(QStringLiteral("id%1").arg(res::ID_INDICATOR_TIME));
    timePane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    timePane_->setIndent(0);
    timePane_->setMargin(0);
    timePane_->setAlignment(Qt::AlignCenter);
    bar->addPermanentWidget(timePane_);
    SetTimePaneText(Text(res::LoadString(res::ID_INDICATOR_TIME)));
    bar->showMessage(idleText_);

    timePaneTimer_ = new QTimer(bar);
    timePaneTimer_->setObjectName(QStringLiteral("timer%1").arg(TIME_PANE_TIMER_ID));
    timePaneTimer_->setInterval(TIME_PANE_PERIOD_MS);
    connect(timePaneTimer_, &QTimer::timeout, this, [this] { UpdateTimePane(); });
    timePaneTimer_->start();
    // "Time" only sizes the pane: the clock replaces it as soon as the event loop is idle,
    // not a whole period later.
    QTimer::singleShot(0, this, [this] { UpdateTimePane(); });
}

void CMainFrame::UpdateTimePane()
{
    SetTimePaneText(FormatLocalTime());
}

void CMainFrame::SetTimePaneText(const QString& text)
{
    const QFontMetrics metrics(statusBar_->font());
    timePane_->setFont(statusBar_->font());
    timePane_->setFixedWidth(metrics.horizontalAdvance(text) + 2 * timePane_->frameWidth());
    timePane_->setText(text);
    timePane_->setEnabled(true);
}

void CMainFrame::UpdateTitle()
{
    const QString appTitle =
        Text(res::StringPart(res::LoadString(res::IDR_MAINFRAME), res::DOC_WINDOW_TITLE));
    setWindowTitle(app_.Document().Title() + QStringLiteral(" - ") + appTitle);
}

void CMainFrame::SetIdleText(std::string_view text)
{
    idleText_ = text.empty() ? ReadyText() : Text(text);
    if (statusBar_ != nullptr) {
        statusBar_->showMessage(idleText_);
    }
}

void CMainFrame::OnCommand(int id)
{
    if (view_ != nullptr && view_->OnCommand(id)) {
        return;
    }
    switch (id) {
    case res::ID_APP_EXIT:
        close();
        break;
    case res::ID_APP_ABOUT:
        app_.OnAppAbout();
        break;
    case res::ID_FILE_NEW:
        app_.OnFileNew();
        break;
    default:
        // Save, the edit commands and the pane commands: the document has nothing to save
        // and the window nothing to edit.
        break;
    }
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip && statusBar_ != nullptr) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        statusBar_->showMessage(tip.isEmpty() ? idleText_ : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            app_.OnOpenDocument(url.toLocalFile());
            event->acceptProposedAction();
            return;
        }
    }
}

}  // namespace tarvik
