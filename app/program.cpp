#include "program.h"

#include "launcher.h"
#include "ui/program_info.h"
#include "ui/window_slots.h"

#include <QApplication>
#include <QIcon>

namespace dlscope {

QWidget *startProgram()
{
    QApplication::setApplicationName(QStringLiteral("dlscope"));
    QApplication::setApplicationDisplayName(QStringLiteral("DL Scope"));
    QApplication::setApplicationVersion(programVersion());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/dlscope/icon.png")));

    // A fresh program: no tool window survives an earlier launcher.
    WindowSlots::closeAll();

    auto *launcher = new Launcher;
    launcher->show();
    return launcher;
}

} // namespace dlscope
