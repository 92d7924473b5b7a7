#include "program_info.h"

#include <QObject>

namespace dlscope {

QString programVersion() { return QStringLiteral(DLSCOPE_VERSION); }

QString aboutText()
{
    return QObject::tr("DL Scope %1\nA workbench for reading, decoding and editing Nintendo 64 display lists "
                       "and their GBI commands.")
        .arg(programVersion());
}

} // namespace dlscope
