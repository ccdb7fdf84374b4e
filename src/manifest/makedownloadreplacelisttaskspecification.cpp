#include "makedownloadreplacelisttaskspecification.h"

#include "manifest/checksigfunc.h"
#include "manifest/productini.h"
#include "shell/configuration.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
    Configuration *config, UpdatePlan *target, QObject *parent, qreal weight)
    : ASyncTaskSpecification(parent, weight)
    , m_Config(config)
    , m_Target(target)
{
}

MakeDownloadReplaceListTaskSpecification::~MakeDownloadReplaceListTaskSpecification() = default;

ASyncFunc *MakeDownloadReplaceListTaskSpecification::createFunc()
{
    return new MakeDownloadReplaceListFunc(m_Config, &m_Plan);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool ok)
{
    // The worker has ended (its result is what brought us here), so its plan
    // can be read; the session's plan is replaced only by a complete one.
    if (ok && m_TaskState == TASK_RUNNING)
        *m_Target = m_Plan;
    ASyncTaskSpecification::runDone(ok);
}

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(Configuration *config, UpdatePlan *plan)
    : m_UpdateMode(config->m_UpdateMode)
    , m_TempDir(config->m_TempDir)
    , m_InstallDir(config->m_InstallDir)
    , m_Plan(plan)
{
}

MakeDownloadReplaceListFunc::~MakeDownloadReplaceListFunc() = default;

int MakeDownloadReplaceListFunc::osIdOf(const QString &name)
{
    const QString lower = name.toLower();
    if (lower == QLatin1String("win32"))
        return 1;
    if (lower == QLatin1String("win64"))
        return 2;
    if (lower == QLatin1String("linux32"))
        return 3;
    if (lower == QLatin1String("linux64"))
        return 4;
    if (lower == QLatin1String("mac"))
        return 5;
    return 0;
}

int MakeDownloadReplaceListFunc::currentOsId()
{
    return 4;
}

bool MakeDownloadReplaceListFunc::checkFile(const QString &path, const QString &sha512)
{
    CheckSigFunc check(path, sha512);
    return check.run();
}

void MakeDownloadReplaceListFunc::warnInvalidLine(const QString &section)
{
    emit message(
        QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section));
}

bool MakeDownloadReplaceListFunc::run()
{
    m_Plan->clear();
    m_CurrentFiles.clear();
    const QString iniPath = m_TempDir + QLatin1Char('/') + productIniName(m_UpdateMode);
    qDebug() << "prodIni" << iniPath;
    emit message(QStringLiteral("Compiling download and replace list for ") +
                 (m_UpdateMode != 0 ? QStringLiteral("client") : QStringLiteral("updater")));

    // QSettings silently reads a missing file as empty, which the key count
    // below turns into the same report as a manifest without files.
    QSettings ini(iniPath, QSettings::IniFormat);
    const QStringList sections = ini.childGroups();
    int total = 0;
    for (const QString &section : sections) {
        ini.beginGroup(section);
        total += ini.allKeys().size();
        ini.endGroup();
    }
    if (total == 0 || ini.status() != QSettings::NoError) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }

    int done = 0;
    for (const QString &section : sections) {
        ini.beginGroup(section);
        QStringList keys = ini.allKeys();
        QMultiHash<QString, PatchCandidate> patches;
        if (!readPatchLines(section, keys, ini, patches)) {
            ini.endGroup();
            return false;
        }
        if (section == QLatin1String(ProductIni::deleteSection)) {
            for (const QString &key : qAsConst(keys)) {
                ++done;
                emit progress(qreal(done) / total);
                if (!QFileInfo::exists(m_InstallDir + QLatin1Char('/') + key))
                    continue;
                bool isNumber = false;
                int kind = ini.value(key).toString().toInt(&isNumber);
                if (!isNumber)
                    kind = 0;
                if (kind < 10 || kind == 12)
                    m_Plan->deletes.append(DeleteEntry{key, kind == 2});
            }
        } else if (section == QLatin1String(ProductIni::preInstallSection) ||
                   section == QLatin1String(ProductIni::postInstallSection)) {
            for (const QString &key : qAsConst(keys))
                planInstallCommand(section, key, ini);
        } else {
            for (const QString &key : qAsConst(keys)) {
                ++done;
                emit progress(qreal(done) / total);
                planFile(section, key, ini.value(key).toString(), patches);
            }
        }
        ini.endGroup();
    }
    provideInstallPrograms();
    return true;
}

void MakeDownloadReplaceListFunc::provideInstallPrograms()
{
    // A command's program is started from T, but only changed files are
    // downloaded there. Without this, an installation that already holds the
    // program (one that is up to date, or one whose update was stopped after
    // its files were replaced) could never run its commands, and a required
    // one would fail every later update.
    for (const QList<InstallCommandEntry> *list : {&m_Plan->preInstalls, &m_Plan->postInstalls}) {
        for (const InstallCommandEntry &entry : *list) {
            const QString program = m_TempDir + QLatin1Char('/') + entry.command;
            if (!m_CurrentFiles.contains(entry.command) || QFileInfo::exists(program))
                continue;
            QDir().mkpath(QFileInfo(program).absolutePath());
            const bool copied =
                QFile::copy(m_InstallDir + QLatin1Char('/') + entry.command, program);
            qDebug() << "Copying install program:" << entry.command << (copied ? "true" : "false");
        }
    }
}

bool MakeDownloadReplaceListFunc::readPatchLines(const QString &section, QStringList &keys,
                                                 QSettings &ini,
                                                 QMultiHash<QString, PatchCandidate> &patches)
{
    const QString suffix = QLatin1String(ProductIni::patchKeySuffix);
    for (auto it = keys.begin(); it != keys.end();) {
        if (!it->endsWith(suffix)) {
            ++it;
            continue;
        }
        const QString key = *it;
        it = keys.erase(it);
        const QStringList fields = ProductIni::splitFields(ini.value(key).toString());
        // The patch is downloaded into T under its key.
        if (fields.size() != 5 || !ProductIni::isContainedPath(key)) {
            warnInvalidLine(section);
            return false;
        }
        PatchCandidate candidate;
        candidate.section = section;
        candidate.fileName = key;
        candidate.sha512 = fields[0];
        candidate.size = ProductIni::sizeField(fields[1]);
        candidate.sourceSha512 = fields[2];
        candidate.extra = ProductIni::sizeField(fields[3]);
        candidate.targetName = fields[4];
        patches.insert(candidate.targetName, candidate);
        qDebug() << "ADD PATCH" << candidate.targetName << key << fields[0] << fields[1]
                 << fields[2] << fields[3];
    }
    return true;
}

void MakeDownloadReplaceListFunc::planInstallCommand(const QString &section, const QString &key,
                                                     QSettings &ini)
{
    const QStringList list = ini.value(key).toStringList();
    qDebug() << "prepostinstall cmd" << key << "v" << list;
    if (list.isEmpty() || (list.size() == 1 && list.first().isEmpty()))
        return;
    // The command is started from T; it must be one of the release's files there.
    if (!ProductIni::isContainedPath(key)) {
        warnInvalidLine(section);
        return;
    }
    const QStringList osList = list[0].split(QStringLiteral("::"));
    QStringList args = list.size() > 1 ? list[1].split(QStringLiteral("::")) : QStringList();
    const bool optional = list.size() > 2 && list[2] == QLatin1String("optional");
    qDebug() << "--->" << key << "os list" << osList << "args" << args << "required"
             << (optional ? "false" : "true");
    for (QString &arg : args)
        arg.replace(QLatin1String(ProductIni::installDirPlaceholder), m_InstallDir);
    qDebug() << "replaced args: " << args;

    QList<InstallCommandEntry> &target = section == QLatin1String(ProductIni::preInstallSection)
                                             ? m_Plan->preInstalls
                                             : m_Plan->postInstalls;
    for (const QString &os : osList) {
        if (osIdOf(os) == currentOsId())
            target.append(InstallCommandEntry{key, args, !optional});
    }
}

void MakeDownloadReplaceListFunc::planFile(const QString &section, const QString &key,
                                           const QString &value,
                                           const QMultiHash<QString, PatchCandidate> &patches)
{
    const QStringList fields = ProductIni::splitFields(value);
    DownloadEntry download;
    ReplaceEntry replace;
    if (fields.size() == 2 || fields.size() == 5) {
        download = DownloadEntry{section, key, fields[0], ProductIni::sizeField(fields[1])};
        replace.section = section;
        replace.fileName = key;
        if (fields.size() == 5) {
            replace.sha512 = fields[2];
            replace.size = ProductIni::sizeField(fields[3]);
            replace.targetName = fields[4];
        }
    }
    // The key names a file below T, the target one below I.
    if ((fields.size() != 2 && fields.size() != 5) || !ProductIni::isContainedPath(key) ||
        (!replace.targetName.isEmpty() && !ProductIni::isContainedPath(replace.targetName))) {
        warnInvalidLine(section);
        return;
    }

    const QString installed = m_InstallDir + QLatin1Char('/') + replace.dstName();
    const bool present = QFileInfo::exists(installed);
    qDebug() << "CHECK PATCH" << replace.targetName << present
             << patches.contains(replace.targetName);

    bool queue = !present;
    if (present) {
        bool patched = false;
        if (!replace.targetName.isEmpty()) {
            // QMultiHash hands out the value inserted last first: the patch
            // line read last is tried first.
            const QList<PatchCandidate> candidates = patches.values(replace.targetName);
            for (const PatchCandidate &candidate : candidates) {
                const bool matches = checkFile(installed, candidate.sourceSha512);
                qDebug() << "Check Sig" << installed << candidate.sourceSha512 << "=>" << matches;
                if (matches) {
                    replace.patchFile = candidate.fileName;
                    download.fileName = candidate.fileName;
                    download.sha512 = candidate.sha512;
                    download.size = candidate.size;
                    qDebug() << "Found patch for" << key << installed;
                    patched = true;
                    break;
                }
            }
        }
        if (patched) {
            queue = true;
        } else {
            const QString &digest = replace.targetName.isEmpty() ? download.sha512 : replace.sha512;
            queue = !checkFile(installed, digest);
        }
    }

    if (!queue) {
        if (replace.targetName.isEmpty())
            m_CurrentFiles.insert(key);
        if (m_UpdateMode != 0) {
            // A backup or staging file beside a current file is left over
            // from an update that was interrupted after this file was
            // replaced: the journal that would have removed it died with that
            // process.
            for (const QString &prefix :
                 {ReplaceEntry::backupPrefix(), ReplaceEntry::stagingPrefix()}) {
                const QString leftover = replace.dstName(prefix);
                if (QFileInfo(m_InstallDir + QLatin1Char('/') + leftover).isFile()) {
                    qDebug() << "Removing leftover of an interrupted update:" << leftover;
                    m_Plan->deletes.append(DeleteEntry{leftover, false});
                }
            }
        }
        if (m_UpdateMode == 0) {
            // T is to hold the complete new updater: unchanged files too.
            const QString destination = m_TempDir + QLatin1Char('/') + replace.dstName();
            const QString dir = QFileInfo(destination).absolutePath();
            if (!QFileInfo::exists(dir))
                QDir().mkpath(dir);
            const bool copied = QFile::copy(installed, destination);
            qDebug() << "Copying updater files:" << installed << "to" << destination
                     << (copied ? "true" : "false");
        }
        return;
    }

    m_Plan->replaces.append(replace);
    const QString local = m_TempDir + QLatin1Char('/') + download.fileName;
    if (QFileInfo::exists(local) && checkFile(local, download.sha512))
        return;
    m_Plan->downloads.append(download);
    qDebug() << "Queueing download:" << key;
}
