#pragma once

#include "manifest/updateplan.h"
#include "tasks/asynctaskspecification.h"

#include <QMultiHash>
#include <QSet>

class Configuration;
class QSettings;

// Compares the verified product ini in T with the installation in I and fills
// an UpdatePlan: per file line whether the installed file is current, can be
// upgraded by one of the section's patches or must be downloaded whole; the
// delete lines whose paths exist; the install commands for this system. Files
// already downloaded into T by an earlier run of the same session are not
// downloaded again. In updater self-update mode the current files are copied
// into T, so that T ends up holding the whole new updater.
//
// The work hashes every installed file and runs on the thread pool; it fills
// only the task's own plan, which runDone copies into the target plan on the
// main thread after a successful run.
class MakeDownloadReplaceListTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
    Q_DISABLE_COPY(MakeDownloadReplaceListTaskSpecification)

public:
    // config and target are not owned; target is replaced only on success.
    MakeDownloadReplaceListTaskSpecification(Configuration *config, UpdatePlan *target,
                                             QObject *parent, qreal weight);
    ~MakeDownloadReplaceListTaskSpecification() override;

protected:
    ASyncFunc *createFunc() override;
    void runDone(bool ok) override;

    Configuration *m_Config;
    UpdatePlan *m_Target;
    UpdatePlan m_Plan;
};

// The planning itself. Holds copies of the configuration values it needs; the
// plan it fills belongs to the task, which does not touch it until the result
// has arrived.
class MakeDownloadReplaceListFunc : public ASyncFunc
{
    Q_OBJECT
    Q_DISABLE_COPY(MakeDownloadReplaceListFunc)

public:
    MakeDownloadReplaceListFunc(Configuration *config, UpdatePlan *plan);
    ~MakeDownloadReplaceListFunc() override;

    // False with "No files in product ini" when the ini is missing, unreadable
    // or has no keys in any section, and with the invalid-line warning when a
    // patch line is malformed; an invalid file or command line is only skipped.
    bool run() override;

    // 1 win32, 2 win64, 3 linux32, 4 linux64, 5 mac (any case), else 0.
    static int osIdOf(const QString &name);
    // The system this updater runs on: linux64.
    static int currentOsId();

private:
    struct PatchCandidate
    {
        QString section;
        QString fileName; // the patch's name on the server and below T
        QString sha512;   // digest of the patch file
        quint64 size = 0; // size of the patch file
        QString targetName;
        QString sourceSha512; // digest of the installed file the patch applies to
        quint64 extra = 0;    // only logged
    };

    // Reads the section's patch lines into the hash; false for an invalid one.
    bool readPatchLines(const QString &section, QStringList &keys, QSettings &ini,
                        QMultiHash<QString, PatchCandidate> &patches);
    void planInstallCommand(const QString &section, const QString &key, QSettings &ini);
    void planFile(const QString &section, const QString &key, const QString &value,
                  const QMultiHash<QString, PatchCandidate> &patches);
    // Puts the installed copy of each install program that is current, and so
    // not downloaded, into T, where the commands are started from.
    void provideInstallPrograms();
    void warnInvalidLine(const QString &section);
    // The file checked against the digest (SHA-512, or RSA when empty).
    static bool checkFile(const QString &path, const QString &sha512);

    int m_UpdateMode;
    QString m_TempDir;
    QString m_InstallDir;
    UpdatePlan *m_Plan;
    // Keys of plain file lines whose installed file is current.
    QSet<QString> m_CurrentFiles;
};
