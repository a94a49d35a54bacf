// Where the desktop program keeps its settings file and its work folder.
//
// Both belong beside the executable: the settings file is the executable's
// path with ".dat", the work folder for bound images is "TEMP" in the same
// folder. An installed program often cannot write there (/usr/bin, or
// C:\Program Files on Windows), so the settings then go to the user's
// configuration folder (~/.config/tervalo, or the user's application-data
// folder %LOCALAPPDATA%\tervalo on Windows) and the work folder to a private
// folder under the system's temporary folder.
#pragma once

#include <QString>

namespace tervalo {

struct AppLocations {
    QString executablePath;        // full path of the program
    QString configFallbackFolder;  // settings when the program's folder is not writable
    QString tempFallbackParent;    // parent of the private work folder used when TEMP fails

    // The running program's own locations.
    static AppLocations FromApplication();
};

// The settings file to read at start and the one to write at close.
struct SettingsLocation {
    QString loadPath;
    QString savePath;
};

// The folder of a path with a trailing "/".
QString FolderOfPath(const QString& path);

// True when the folder exists and files can be created in it.
bool FolderWritable(const QString& folder);

// The settings file beside the executable when its folder can be written;
// otherwise the same file name in the fallback folder. Reading prefers the
// file that is written: when the executable's folder is writable the file
// beside it (or, while that does not exist yet, the fallback one), else the
// fallback file (or, while that does not exist yet, the file beside it).
SettingsLocation ResolveSettingsLocation(const AppLocations& locations);

// The choice itself, from what was found on disk.
SettingsLocation ChooseSettingsLocation(const QString& beside, const QString& fallback, bool folderWritable,
                                        bool besideExists, bool fallbackExists);

// Creates the work folder "TEMP" beside the executable and returns it with a
// trailing "/". When it cannot be created or written, creates a private
// folder (mode 0700, unique name) under the fallback parent instead. When
// that fails too, the TEMP path is returned anyway (images then cannot be
// copied out and such drawings are not converted).
QString MakeWorkFolder(const QString& exeFolder, const QString& tempFallbackParent);

}  // namespace tervalo
