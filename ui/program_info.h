#pragma once

// What the About box says about the program.

#include <QString>

namespace dlscope {

QString programVersion();
// The program's name, version and one line of what it is.
QString aboutText();

} // namespace dlscope
