#pragma once
// The view: paints the background picture and carries the three working commands. Making it
// runs the start-up sequence (the adapter is found and opened then); destroying it takes the
// adapter down again.

#include <QImage>
#include <QWidget>

namespace tarvik {

class CKelbrinApp;

class CKelbrinView final : public QWidget {
public:
    CKelbrinView(CKelbrinApp& app, QWidget* parent);
    ~CKelbrinView() override;

    // How the start-up sequence ended (STARTUP_READY, a discovery result, or running on
    // without an adapter).
    int StartupResult() const { return startupResult_; }

    // The view's commands; false for a command it does not handle.
    bool OnCommand(int id);
    void OnSelectBinFile();
    void OnBrowseTarget();
    void OnPrepareUpgrade();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CKelbrinApp& app_;
    int startupResult_;
    QImage picture_;
};

// The part of the picture the view copies, from the picture's origin to the view's.
inline constexpr int VIEW_COPY_WIDTH = 1200;
inline constexpr int VIEW_COPY_HEIGHT = 600;

}  // namespace tarvik
