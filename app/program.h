#pragma once

class QWidget;

namespace dlscope {

// Everything of program start but creating the QApplication and running its
// loop: sets the display name and icon, creates and shows the launcher and
// returns it. After the launcher was closed, a call starts afresh with every
// window slot empty.
QWidget *startProgram();

} // namespace dlscope
