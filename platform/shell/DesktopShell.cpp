#include "platform/shell/DesktopShell.h"

#include "platform/shell/FreedesktopShell.h"

namespace platform {

namespace {

DesktopShell* installed = nullptr;

} // namespace

DesktopShell& DesktopShell::current() {
    if (installed) {
        return *installed;
    }
    // Made on first use and kept to the end of the process: its session-bus handle must not
    // outlive Qt's own bus bookkeeping at exit, so it is never destroyed.
    static DesktopShell* const desktop = new FreedesktopShell();
    return *desktop;
}

DesktopShell* DesktopShell::install(DesktopShell* shell) {
    DesktopShell* const previous = installed;
    installed = shell;
    return previous;
}

} // namespace platform
