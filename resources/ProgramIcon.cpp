#include "resources/ProgramIcon.h"

#include <QString>

QList<int> ProgramIcon::sizes() {
    return {VOCARN_ICON_SIZES};
}

QIcon ProgramIcon::icon() {
    QIcon icon;
    for (const int size : sizes()) {
        icon.addFile(QStringLiteral(":/icons/%1x%1/vocarn.png").arg(size), QSize(size, size));
    }
    return icon;
}
