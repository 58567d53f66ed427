#include "dialogs/qt/template_dialog.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "dialogs/dialog.h"
#include "res/pictures.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

// A push button drawn with the default-button frame whatever the focus: a template may give
// that style to several buttons, and a dialog has only one default button to press on Enter.
class DefaultStyledButton final : public QPushButton {
public:
    DefaultStyledButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
    {
        setProperty(DEFAULT_STYLE_PROPERTY, true);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.features |= QStyleOptionButton::DefaultButton;
        painter.drawControl(QStyle::CE_PushButton, option);
    }
};

}  // namespace

namespace {

int MulDiv(int number, int numerator, int denominator)
{
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

const res::DialogTemplate& TemplateOrDie(int templateId)
{
    const res::DialogTemplate* found = res::FindDialogTemplate(templateId);
    if (found == nullptr) {
        // A dialog class naming a template the program lacks is a programming error.
        std::abort();
    }
    return *found;
}

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// While it lives, the user's input that reaches the program as posted events (clicks, keys,
// a window's close) is held back, and posted again in its order when it goes: such input
// waits behind the work on this thread, as the window system's own does when a pump excludes
// user input.
class PostedInputHold final : public QObject {
public:
    PostedInputHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~PostedInputHold() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        for (auto& [receiver, event] : held_) {
            if (receiver != nullptr) {
                QCoreApplication::postEvent(receiver, event.release());
            }
        }
    }
    PostedInputHold(const PostedInputHold&) = delete;
    PostedInputHold& operator=(const PostedInputHold&) = delete;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Close:
            held_.emplace_back(receiver, std::unique_ptr<QEvent>(event->clone()));
            return true;
        default:
            return false;
        }
    }

private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

}  // namespace

QSize DialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // The average over the 52 letters, rounded, as dialog units have always been measured.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((letters / 26 + 1) / 2, metrics.height());
}

QFont TemplateFont(const res::DialogTemplate& dialog)
{
    QFont font(QString::fromLatin1(dialog.FontName.data(),
                                   static_cast<qsizetype>(dialog.FontName.size())));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(dialog.PointSize);
    return font;
}

TemplateDialog::TemplateDialog(int templateId, QWidget* parent, CDialog* handler)
    : QDialog(parent), template_(TemplateOrDie(templateId)), handler_(handler)
{
    setObjectName(QStringLiteral("dialog%1").arg(template_.Id));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((template_.Style & res::DLG_CAPTION) != 0) {
        flags |= Qt::WindowTitleHint;
    }
    if ((template_.Style & res::DLG_SYSMENU) != 0) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    setWindowFlags(flags);
    setWindowTitle(QString::fromLatin1(template_.Caption.data(),
                                       static_cast<qsizetype>(template_.Caption.size())));
    setWindowIcon(res::ProgramIcon());

    const QFont font = TemplateFont(template_);
    setFont(font);
    baseUnits_ = DialogBaseUnits(font);
    setFixedSize(UnitsToPixels(0, 0, template_.Width, template_.Height).size());

    int unnamed = 0;
    for (const res::ControlTemplate& control : template_.Controls) {
        QWidget* widget = CreateControl(control);
        widget->setGeometry(UnitsToPixels(control.X, control.Y, control.Width, control.Height));
        if (control.Id == res::IDC_STATIC) {
            widget->setObjectName(QStringLiteral("static%1").arg(unnamed++));
        } else {
            widget->setObjectName(QStringLiteral("id%1").arg(control.Id));
            controls_[control.Id] = widget;
        }
    }
}

TemplateDialog::~TemplateDialog() = default;

QRect TemplateDialog::UnitsToPixels(int x, int y, int width, int height) const
{
    return QRect(MulDiv(x, baseUnits_.width(), 4), MulDiv(y, baseUnits_.height(), 8),
                 MulDiv(width, baseUnits_.width(), 4), MulDiv(height, baseUnits_.height(), 8));
}

QWidget* TemplateDialog::CreateControl(const res::ControlTemplate& control)
{
    const QString text =
        QString::fromLatin1(control.Text.data(), static_cast<qsizetype>(control.Text.size()));
    const bool tabStop = (control.Style & res::CTL_TABSTOP) != 0;
    const int id = control.Id;

    switch (control.Kind) {
    case res::ControlKind::PushButton:
    case res::ControlKind::DefPushButton: {
        const bool defaultStyle = control.Kind == res::ControlKind::DefPushButton;
        QPushButton* button = defaultStyle ? new DefaultStyledButton(text, this)
                                           : new QPushButton(text, this);
        button->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        // Enter is the dialog's own (keyPressEvent), as the dialog manager handles it: Qt's
        // default and auto-default buttons would press other buttons than it does.
        button->setAutoDefault(false);
        if (defaultStyle) {
            defaultId_ = id;
        }
        connect(button, &QPushButton::clicked, this, [this, id] { Pressed(id); });
        return button;
    }
    case res::ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        edit->setReadOnly((control.Style & res::CTL_READONLY) != 0);
        edit->setFrame((control.Style & res::CTL_BORDER) != 0);
        edit->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        // Paths are as long as the file system allows; the box scrolls, it never cuts.
        edit->setMaxLength(INT32_MAX);
        return edit;
    }
    case res::ControlKind::ListBox: {
        auto* list = new QListWidget(this);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled((control.Style & res::CTL_SORT) != 0);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setVerticalScrollBarPolicy((control.Style & res::CTL_VSCROLL) != 0
                                             ? Qt::ScrollBarAsNeeded
                                             : Qt::ScrollBarAlwaysOff);
        list->setFrameShape((control.Style & res::CTL_BORDER) != 0 ? QFrame::StyledPanel
                                                                   : QFrame::NoFrame);
        list->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        if ((control.Style & res::CTL_NOTIFY) != 0) {
            // Qt reports the caret and the selection separately, in either order; the change
            // counts once the caret item is also the selected one.
            connect(list, &QListWidget::currentRowChanged, this,
                    [this, id] { ReportSelection(id); });
            connect(list, &QListWidget::itemSelectionChanged, this,
                    [this, id] { ReportSelection(id); });
        }
        return list;
    }
    case res::ControlKind::Static: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case res::ControlKind::Icon: {
        auto* label = new QLabel(this);
        label->setPixmap(res::ProgramIcon().pixmap(32, 32));
        return label;
    }
    case res::ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return new QWidget(this);
}

void TemplateDialog::ReportSelection(int id)
{
    QListWidget* list = List(id);
    QListWidgetItem* caret = list != nullptr ? list->currentItem() : nullptr;
    if (caret != nullptr && caret->isSelected() && handler_ != nullptr) {
        handler_->OnSelectionChange(id);
    }
}

void TemplateDialog::Pressed(int id)
{
    if (handler_ != nullptr) {
        handler_->OnButton(id);
    } else if (id == res::IDOK) {
        QDialog::accept();
    } else if (id == res::IDCANCEL) {
        QDialog::reject();
    }
}

// Escape and the window's close button: Cancel.
void TemplateDialog::reject()
{
    Pressed(res::IDCANCEL);
}

QWidget* TemplateDialog::Control(int id) const
{
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QPushButton* TemplateDialog::Button(int id) const
{
    return qobject_cast<QPushButton*>(Control(id));
}

QLineEdit* TemplateDialog::Edit(int id) const
{
    return qobject_cast<QLineEdit*>(Control(id));
}

QListWidget* TemplateDialog::List(int id) const
{
    return qobject_cast<QListWidget*>(Control(id));
}

QLabel* TemplateDialog::Label(int id) const
{
    return qobject_cast<QLabel*>(Control(id));
}

QProgressBar* TemplateDialog::Bar(int id) const
{
    return qobject_cast<QProgressBar*>(Control(id));
}

void TemplateDialog::SetItemText(int id, std::string_view text)
{
    const QString shown = FromUtf8(text);
    if (QLineEdit* edit = Edit(id)) {
        edit->setText(shown);
    } else if (QLabel* label = Label(id)) {
        label->setText(shown);
    } else if (QPushButton* button = Button(id)) {
        button->setText(shown);
    }
}

std::string TemplateDialog::ItemText(int id) const
{
    if (const QLineEdit* edit = Edit(id)) {
        return edit->text().toStdString();
    }
    if (const QLabel* label = Label(id)) {
        return label->text().toStdString();
    }
    if (const QPushButton* button = Button(id)) {
        return button->text().toStdString();
    }
    return {};
}

void TemplateDialog::EnableItem(int id, bool enable)
{
    if (QWidget* control = Control(id)) {
        control->setEnabled(enable);
    }
}

bool TemplateDialog::IsItemEnabled(int id) const
{
    const QWidget* control = Control(id);
    return control != nullptr && control->isEnabled();
}

void TemplateDialog::SetFocusItem(int id)
{
    if (QWidget* control = Control(id)) {
        control->setFocus();
    }
}

void TemplateDialog::SetDefaultButton(int id)
{
    defaultId_ = id;
}

// Enter as Win32's dialog manager takes it: the push button with the focus, else the dialog's
// default button (the last one the template gives the default style, unless the dialog named
// another), when it is enabled; else OK, when the dialog has one.
void TemplateDialog::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    int id = defaultId_ != 0 ? defaultId_ : res::IDOK;
    for (const auto& [controlId, control] : controls_) {
        if (control == focusWidget() && qobject_cast<QPushButton*>(control) != nullptr) {
            id = controlId;
        }
    }
    if (const QPushButton* button = Button(id); button != nullptr && button->isEnabled()) {
        Pressed(id);
    }
}

int TemplateDialog::ListAddString(int id, std::string_view text)
{
    QListWidget* list = List(id);
    if (list == nullptr) {
        return -1;
    }
    auto* item = new QListWidgetItem(FromUtf8(text));
    list->addItem(item);
    return list->row(item);
}

int TemplateDialog::ListCount(int id) const
{
    const QListWidget* list = List(id);
    return list == nullptr ? 0 : list->count();
}

std::string TemplateDialog::ListText(int id, int row) const
{
    const QListWidget* list = List(id);
    const QListWidgetItem* item = list == nullptr ? nullptr : list->item(row);
    return item == nullptr ? std::string() : item->text().toStdString();
}

int TemplateDialog::ListCaret(int id) const
{
    const QListWidget* list = List(id);
    return list == nullptr ? -1 : list->currentRow();
}

int TemplateDialog::ListSelection(int id) const
{
    const QListWidget* list = List(id);
    if (list == nullptr) {
        return -1;
    }
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

void TemplateDialog::SetProgressPosition(int id, int position)
{
    if (QProgressBar* bar = Bar(id)) {
        bar->setValue(position);
        bar->repaint();
    }
}

void TemplateDialog::RepaintItem(int id)
{
    if (QWidget* control = Control(id)) {
        control->repaint();
    }
}

void TemplateDialog::ShowModeless()
{
    setModal(false);
    show();
    raise();
    activateWindow();
    // A window shown for the first time needs the window system's answer before it can be
    // painted; user input stays queued until the work on this thread is over.
    {
        PostedInputHold hold;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    repaint();
}

void TemplateDialog::Hide()
{
    hide();
}

void TemplateDialog::EndDialog(int result)
{
    if (result == res::IDOK) {
        QDialog::accept();
    } else if (result == res::IDCANCEL) {
        QDialog::reject();
    } else {
        done(result);
    }
}

std::unique_ptr<DialogWindow> MakeDialogWindow(const res::DialogTemplate& dialog, CDialog& handler,
                                               NativeWindow owner)
{
    return std::make_unique<TemplateDialog>(dialog.Id, static_cast<QWidget*>(owner), &handler);
}

TemplateDialog& QtWindow(CDialog& dialog)
{
    return static_cast<TemplateDialog&>(dialog.Window());
}

}  // namespace tarvik
