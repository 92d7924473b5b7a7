#pragma once

// Window `Menu` ("GBI"): the always-on-top start window, one button per tool
// window. Closing it ends the program.
//
// The display-list window has no button: the launcher's context menu opens
// it (beside "About DL Scope"), Ctrl+L opens it from any window of the
// program, and a paste (Ctrl+V) or drop onto the launcher opens it with
// that list.

#include <QWidget>

class QMimeData;

namespace dlscope {

class Launcher : public QWidget {
    Q_OBJECT
public:
    explicit Launcher(QWidget *parent = nullptr);

    // Opens the display-list window with what the clipboard or a drop holds.
    void openList(const QMimeData *mime);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

} // namespace dlscope
