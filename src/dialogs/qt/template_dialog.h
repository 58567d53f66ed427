#pragma once
// The Qt renderer of the dialog templates. Each control of the template becomes a child widget
// at its rectangle, converted from dialog units to pixels with the template's font, and is
// found again by its numeric id (its object name is "id" and the number). The window
// implements the control API for the dialog class that handles it.

#include <QDialog>
#include <QSize>
#include <map>

#include "dialogs/dialog_runner.h"
#include "dialogs/dialog_window.h"
#include "res/dialog_templates.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tarvik {

// The base units of a font: the average width of its letters and its height, in pixels. One
// horizontal dialog unit is a quarter of the width, one vertical unit an eighth of the height.
QSize DialogBaseUnits(const QFont& font);
// The font a template names, at its point size.
QFont TemplateFont(const res::DialogTemplate& dialog);

// Set (true) on every push button whose template gives it the default-button style.
inline constexpr char DEFAULT_STYLE_PROPERTY[] = "defaultButtonStyle";

class TemplateDialog final : public QDialog, public DialogWindow {
public:
    // The template must exist; parent is the window that owns the dialog (may be null);
    // handler hears of the buttons and lists (without one, OK and Cancel close the window).
    TemplateDialog(int templateId, QWidget* parent, CDialog* handler = nullptr);
    ~TemplateDialog() override;

    CDialog* Handler() const { return handler_; }

    const res::DialogTemplate& Template() const { return template_; }
    QSize BaseUnits() const { return baseUnits_; }
    QRect UnitsToPixels(int x, int y, int width, int height) const;

    // The control with that id, or null.
    QWidget* Control(int id) const;
    QPushButton* Button(int id) const;
    QLineEdit* Edit(int id) const;
    QListWidget* List(int id) const;
    QLabel* Label(int id) const;
    QProgressBar* Bar(int id) const;

    // The control API.
    NativeWindow Native() override { return static_cast<QWidget*>(this); }
    void SetItemText(int id, std::string_view text) override;
    std::string ItemText(int id) const override;
    void EnableItem(int id, bool enable) override;
    bool IsItemEnabled(int id) const override;
    void SetFocusItem(int id) override;
    void SetDefaultButton(int id) override;
    int ListAddString(int id, std::string_view text) override;
    int ListCount(int id) const override;
    std::string ListText(int id, int row) const override;
    int ListCaret(int id) const override;
    int ListSelection(int id) const override;
    void SetProgressPosition(int id, int position) override;
    void RepaintItem(int id) override;
    void ShowModeless() override;
    void Hide() override;
    bool IsShown() const override { return isVisible(); }
    void EndDialog(int result) override;

protected:
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* CreateControl(const res::ControlTemplate& control);
    void ReportSelection(int id);
    void Pressed(int id);

    const res::DialogTemplate& template_;
    CDialog* handler_;
    QSize baseUnits_;
    std::map<int, QWidget*> controls_;
    int defaultId_ = 0;
};

// The Qt window of a dialog made while the program runs on Qt.
TemplateDialog& QtWindow(CDialog& dialog);

// The dialog's own modal loop. A wait cursor put up by the command that opened the dialog
// gives way to the arrow while the dialog is up.
class ExecDialogRunner final : public DialogRunner {
public:
    int RunModal(CDialog& dialog) override;
};

}  // namespace tarvik
