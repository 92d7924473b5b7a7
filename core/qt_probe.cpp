// Never part of the program: the build of this file must fail, because the
// core library does not see Qt.
#include <QString>
