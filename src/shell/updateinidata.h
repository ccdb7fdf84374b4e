#pragma once

#include <QString>

// The "current" record of update.ini: which update session is in progress
// (target version, temporary directory, installation directory, client type),
// so that a restarted updater continues in the same temporary directory.
//
// INSTALL is the update.ini next to the running executable.
class UpdateIniData
{
public:
    UpdateIniData() = delete;

    // Reads INSTALL's record. True when it is valid: an integer version, a
    // type, and a dir that exists on disk. Only then are the non-null outputs
    // written; otherwise nothing is changed.
    static bool get(int *version, QString *type, QString *dir, QString *qvxdir);
    // Writes INSTALL's record; false when the file could not be written.
    static bool modify(int version, const QString &dir, const QString &qvxdir, const QString &type);
    // Copies INSTALL's record into dirPath/update.ini for a freshly unpacked
    // updater, with the type set to the client update type.
    static bool modifyTempIni(const QString &dirPath);

    static QString installIniPath();
};
