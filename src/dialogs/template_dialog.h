#pragma once
// A dialog built from one of the program's templates. Each control of the template becomes a
// child widget at its rectangle, converted from dialog units to pixels with the template's
// font, and is found again by its numeric id (its object name is "id" and the number).

#include <QDialog>
#include <QSize>
#include <map>

#include "res/dialog_templates.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tarvik {

class DialogRunner;

// The base units of a font: the average width of its letters and its height, in pixels. One
// horizontal dialog unit is a quarter of the width, one vertical unit an eighth of the height.
QSize DialogBaseUnits(const QFont& font);
// The font a template names, at its point size.
QFont TemplateFont(const res::DialogTemplate& dialog);

// Set (true) on every push button whose template gives it the default-button style.
inline constexpr char DEFAULT_STYLE_PROPERTY[] = "defaultButtonStyle";

class TemplateDialog : public QDialog {
public:
    // The template must exist; parent is the window that owns the dialog (may be null).
    TemplateDialog(int templateId, QWidget* parent);
    ~TemplateDialog() override;

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

    // Runs the dialog's own initialisation the first time only, before the dialog is shown,
    // and gives the focus to the first enabled tab stop.
    void InitDialog();
    // Initialises the dialog and runs it modally through the runner; returns how it closed.
    int DoModal(DialogRunner& runner);

protected:
    virtual void OnInitDialog() {}
    // Button 1 and the Enter key on it. Closes with the OK result unless overridden.
    virtual void OnOK() { accept(); }
    // Push buttons other than OK and Cancel.
    virtual void OnCommand(int id) { (void)id; }
    // A list box that notifies reported a changed selection.
    virtual void OnSelectionChange(int id) { (void)id; }

private:
    QWidget* CreateControl(const res::ControlTemplate& control);
    void ReportSelection(int id);

    const res::DialogTemplate& template_;
    QSize baseUnits_;
    std::map<int, QWidget*> controls_;
    bool initialised_ = false;
};

}  // namespace tarvik
