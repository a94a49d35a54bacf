#include "app_locations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cstdlib>

#include "fs/fsutil.h"
#include "qt_text.h"

namespace tervalo {

AppLocations AppLocations::FromApplication() {
    AppLocations l;
    l.executablePath = QCoreApplication::applicationFilePath();
    l.configFallbackFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    l.tempFallbackParent = QDir::tempPath();
    return l;
}

QString FolderOfPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0) return QString();
    return path.left(slash + 1);
}

bool FolderWritable(const QString& folder) {
    if (folder.isEmpty() || !FolderFound(PathOfText(U(folder)))) return false;
    // Trying is the one answer every system gives alike (Windows' access
    // lists are not reflected in permission bits).
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tervalo-probe-XXXXXX")));
    return probe.open();
}

SettingsLocation ChooseSettingsLocation(const QString& beside, const QString& fallback, bool folderWritable,
                                        bool besideExists, bool fallbackExists) {
    SettingsLocation s;
    s.savePath = folderWritable ? beside : fallback;
    const bool savedExists = folderWritable ? besideExists : fallbackExists;
    const bool otherExists = folderWritable ? fallbackExists : besideExists;
    s.loadPath = (!savedExists && otherExists) ? (folderWritable ? fallback : beside) : s.savePath;
    return s;
}

SettingsLocation ResolveSettingsLocation(const AppLocations& locations) {
    const QString beside = Q(ReplaceExt(U(locations.executablePath), u".dat"));
    if (locations.configFallbackFolder.isEmpty()) return {beside, beside};
    const QString fallback = QDir(locations.configFallbackFolder).filePath(QFileInfo(beside).fileName());
    return ChooseSettingsLocation(beside, fallback, FolderWritable(FolderOfPath(beside)), FileFound(PathOfText(U(beside))),
                                  FileFound(PathOfText(U(fallback))));
}

QString MakeWorkFolder(const QString& exeFolder, const QString& tempFallbackParent) {
    const QString beside = exeFolder + QStringLiteral("TEMP/");
    MakeFolder(PathOfText(U(beside)));
    if (FolderWritable(beside) || tempFallbackParent.isEmpty()) return beside;
    // A new folder under a unique name that only this user may enter (mode
    // 0700 on POSIX systems; on Windows the user's temporary folder is his own).
    QTemporaryDir dir(QDir(tempFallbackParent).filePath(QStringLiteral("tervalo-XXXXXX")));
    if (!dir.isValid()) return beside;
    dir.setAutoRemove(false);
    return dir.path() + u'/';
}

}  // namespace tervalo
