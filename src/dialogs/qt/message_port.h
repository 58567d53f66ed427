#pragma once
// The desktop's CommandPort: a warning message box captioned "Tarvik" with one OK button,
// and the application's wait cursor.

#include <QPointer>
#include <QWidget>
#include <string_view>

#include "commands/command_port.h"

namespace tarvik {

class QtCommandPort final : public CommandPort {
public:
    // The window the boxes belong to; none before the main window exists.
    void SetOwner(QWidget* owner) { owner_ = owner; }

    void ShowMessage(std::string_view text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

private:
    QPointer<QWidget> owner_;
};

// While it lives, the arrow replaces a wait cursor that is up, so that a box or dialog shown
// in the middle of a command can be used.
class ArrowWhileModal {
public:
    ArrowWhileModal();
    ~ArrowWhileModal();
    ArrowWhileModal(const ArrowWhileModal&) = delete;
    ArrowWhileModal& operator=(const ArrowWhileModal&) = delete;

private:
    bool pushed_ = false;
};

}  // namespace tarvik
