#pragma once

#include <QString>

// The program folder used when none is given on the command line. An installed program (its
// executable in the install prefix's bin folder) is shared by every user and must not write
// beside itself: each user gets $XDG_DATA_HOME/varnelpayment, ~/.local/share/varnelpayment by
// default. Anywhere else (a build tree, an unpacked copy) the files live beside the executable.
struct DefaultProgramFolder
{
    QString path;
    // The per-user data folder, made readable by its owner only when it is created.
    bool perUser = false;
};

// `installedBinDir` is the bin folder the build installs to; links are resolved on both sides.
// An `xdgDataHome` that is empty or relative is ignored, as the XDG base directory rules say.
DefaultProgramFolder defaultProgramFolder(const QString& executableDir,
                                          const QString& installedBinDir,
                                          const QString& xdgDataHome, const QString& homeDir);

// Creates `path` and its missing parents. With `ownerOnly`, a folder this call creates gets
// mode 0700; a folder that is already there keeps its mode. False, with the reason, when the
// folder cannot be made.
bool makeProgramFolder(const QString& path, bool ownerOnly, QString* error);
