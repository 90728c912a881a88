// The window resources compiled into the library, and the program icon
// made from them.

#include "ui/qt/program_icon.h"

void initResources()
{
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(vantrel); // the resources sit in a static library
        done = true;
    }
}

QIcon programIcon()
{
    initResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/vantrel-%1.png").arg(size), QSize(size, size));
    return icon;
}
