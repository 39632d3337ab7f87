#pragma once

#include <QIcon>
#include <QList>

// Vocarn's own icon: a white microphone on a red tile, built into the program at every size
// the desktop asks for (16 to 256 px). The windows, and the tray through the main window, show it.
class ProgramIcon {
public:
    // The icon with all its sizes; the same picture the desktop's menu entry shows.
    static QIcon icon();

    // The pixel sizes the icon is built in, smallest first.
    static QList<int> sizes();
};
