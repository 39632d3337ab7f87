#pragma once

#include <QString>

// The program's folder: where "nu.ini" and the "file" subfolder of the numbered recordings
// live, and where the help page is looked for first. It is the executable's own folder when
// Vocarn runs from there (portable use, as from the build tree), otherwise the per-user data
// folder: always for an installed Vocarn, and whenever the executable's folder cannot be
// written.
//
// An installed Vocarn is recognised by its layout, not by permissions (root may write into
// /usr/bin): its executable sits in the bin folder of an install prefix whose data folder
// (share/vocarn beside bin) holds the marker file the install step puts there.
class ProgramFolder {
public:
    // The program's folder for this run (created when it is the per-user one).
    static QString path();

    // The folder chosen for an executable in `exeFolder`: `exeFolder` itself when Vocarn is
    // not installed there and a file can be created in it, else the per-user data folder.
    static QString choose(const QString& exeFolder);

    // True when a file can be created in `folder` (checked by creating and removing one).
    static bool isWritable(const QString& folder);

    // The data folder of an installed executable in `exeFolder` (its prefix's share/vocarn),
    // whether or not it exists.
    static QString installedDataFolder(const QString& exeFolder);

    // True when `exeFolder` is the bin folder of an install of Vocarn.
    static bool isInstalled(const QString& exeFolder);

    // The name of the marker file in the installed data folder.
    static QString installedMarker();

    // Where the data file `name` (such as the help page) of this run is: in the program's
    // folder `programFolder` when it is there, else in the installed data folder of the
    // executable in `exeFolder` when it is there, else the path in the program's folder
    // (whoever opens it then reports it missing).
    static QString locate(const QString& programFolder, const QString& exeFolder,
                          const QString& name);

    // locate() for this run's executable.
    static QString locate(const QString& programFolder, const QString& name);
};
