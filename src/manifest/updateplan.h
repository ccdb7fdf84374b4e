#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The plan of one update session, made by the planner from the product ini and
// the installed files, and read by every later step: what to download, what to
// install (whole, unpacked or patched), what to delete, which install commands
// to run. All records are plain values; names are relative paths that are
// joined to the temporary directory (T) or the installation directory (I)
// with "/". The planner only ever puts relative paths without ".." here.

// One file to fetch from the section's folder of the release into T.
struct DownloadEntry
{
    QString section;  // product ini section, also the server sub-folder
    QString fileName; // path below the section folder and below T; a patch's name for a patch
    QString sha512;   // expected digest of the downloaded file, hexadecimal
    quint64 size = 0; // expected size of the downloaded file
};

// One file to install into I.
struct ReplaceEntry
{
    QString section;
    QString fileName;   // the file line's key: the downloaded file (or package) below T
    QString sha512;     // digest of the installed result; empty for a plain file line
    quint64 size = 0;   // size of the installed result; 0 for a plain file line
    QString targetName; // installed path of a packed file; empty for a plain file line
    QString patchFile;  // the downloaded patch below T when the file is patched

    bool hasPatch() const { return !patchFile.isEmpty(); }
    // Before a replacement writes over an installed file, the file is moved
    // aside to this prefix + its name in its own directory, to be restored if
    // the update is rolled back.
    static QString backupPrefix() { return QStringLiteral("_old_"); }
    // The new version is written under this prefix + its name in the same
    // directory, checked, and then renamed over the installed name, so that
    // the installed name never holds a partly written file.
    static QString stagingPrefix() { return QStringLiteral("_new_"); }
    // The installed path (targetName, else fileName); a non-empty prefix goes
    // in front of its last path component.
    QString dstName(const QString &prefix = QString()) const;
};

// A path below I to delete; recursive for a whole directory.
struct DeleteEntry
{
    QString path;
    bool recursive = false;
};

// A pre- or post-install command; args have "__QVX_DIR__" replaced by I.
struct InstallCommandEntry
{
    QString command;
    QStringList args;
    bool required = true;
};

struct UpdatePlan
{
    QList<DownloadEntry> downloads;
    QList<ReplaceEntry> replaces;
    QList<DeleteEntry> deletes;
    QList<InstallCommandEntry> preInstalls;
    QList<InstallCommandEntry> postInstalls;

    void clear();
};
