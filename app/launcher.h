#pragma once

// Window `Menu` ("GBI"): the always-on-top start window, one button per tool
// window. Closing it ends the program.

#include <QWidget>

namespace dlscope {

class Launcher : public QWidget {
    Q_OBJECT
public:
    explicit Launcher(QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace dlscope
