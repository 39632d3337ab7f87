#pragma once

#include <QString>

// Shows the folder that holds a file in the desktop's file manager, with the file selected.
// The preview window's and the main window's open-folder buttons use it; both ignore the
// result.
namespace ModFolderSetFileFocus {

// True when a file system entry matches `path`. The path is a pattern: "*", "?" and "[...]"
// match as in the shell, so a path with wildcards counts as existing when anything matches
// it. A backslash is an ordinary character, not an escape.
bool FileExists(const QString& path);

// Removes leading and trailing spaces from `path`; when FileExists says the entry is there,
// asks the file manager (through platform::DesktopShell) to show its folder with it selected.
// Where no file manager answers on the desktop (no session bus, none registered), the folder
// itself is opened with the desktop's handler instead. True when the file manager took the
// request, or the folder's handler was started; false for a missing or empty path and for a
// file manager that refused, in which case nothing opens. Never reports anything itself.
bool FolderSetFileFocus(const QString& path);

} // namespace ModFolderSetFileFocus
