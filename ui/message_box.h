#pragma once

// The program's one way of showing a message: a real modal QMessageBox with
// standard buttons, no icon, the first button the default. A box given no
// title shows the program's display name.

#include "core/message.h"

#include <QString>

class QWidget;

namespace dlscope {

MessageAnswer showMessageBox(QWidget *parent, MessageButtons buttons, const QString &title, const QString &text);

// A notice with only an OK button and the program's title.
void showNotice(QWidget *parent, const QString &text);

} // namespace dlscope
