#pragma once
// The main window: menu 128, toolbar 128, the status bar with its message pane and time
// pane, and the view. Commands reach the view first, then the application.

#include <QLabel>
#include <QMainWindow>
#include <QString>
#include <map>
#include <string_view>

#include "dialogs/dialog_context.h"

class QAction;
class QStatusBar;
class QTimer;
class QToolBar;

namespace tarvik {

class CKelbrinApp;
class CKelbrinView;

// The status bar's time pane is refreshed by this timer.
inline constexpr int TIME_PANE_TIMER_ID = 4096;
inline constexpr int TIME_PANE_PERIOD_MS = 1000;
// The status bar index of the time pane.
inline constexpr int TIME_PANE_INDEX = 1;

// The current local time in the user's locale's time format ("%X").
QString FormatLocalTime();

class CMainFrame final : public QMainWindow, public StatusBarPort {
public:
    explicit CMainFrame(CKelbrinApp& app);
    ~CMainFrame() override;

    // False when the start-up sequence ended the program: the frame then has no toolbar,
    // no status bar and must not be shown.
    bool Created() const { return created_; }
    CKelbrinView* View() const { return view_; }

    // Every command of the window, by id: menu items, toolbar buttons and accelerators.
    QAction* Action(int id) const;
    QToolBar* ToolBar() const { return toolBar_; }
    QLabel* TimePane() const { return timePane_; }
    QTimer* TimePaneTimer() const { return timePaneTimer_; }

    void OnCommand(int id);
    // Puts the time into the pane and makes the pane as wide as the text.
    void UpdateTimePane();
    void SetTimePaneText(const QString& text);
    void UpdateTitle();
    // The message pane's text between prompts: the chosen image's signer, or "Ready".
    void SetIdleText(std::string_view text) override;

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenu();
    void CreateAccelerators();
    void CreateToolBar();
    void CreateStatusBar();
    QAction* MakeAction(int id);

    CKelbrinApp& app_;
    CKelbrinView* view_ = nullptr;
    bool created_ = false;
    std::map<int, QAction*> actions_;
    QToolBar* toolBar_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* timePane_ = nullptr;
    QTimer* timePaneTimer_ = nullptr;
    QString idleText_;
};

}  // namespace tarvik
