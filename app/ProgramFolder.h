#pragma once

#include <QString>

// The program's folder: where "nu.ini", the "file" subfolder of the numbered recordings and
// the help page live. It is the executable's own folder when Vocarn may write there
// (portable use, as from the build tree), otherwise the per-user data folder.
class ProgramFolder {
public:
    // The program's folder for this run (created when it is the per-user one).
    static QString path();

    // The folder chosen for an executable in `exeFolder`: `exeFolder` itself when a file can
    // be created in it, else the per-user data folder.
    static QString choose(const QString& exeFolder);

    // True when a file can be created in `folder` (checked by creating and removing one).
    static bool isWritable(const QString& folder);
};
