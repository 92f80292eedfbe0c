#include "engine/ZelManagerRecovery.h"

#include "diagnostics/ZelManagerLogging.h"
#include "engine/ZelManagerTargetFolder.h"
#include "settings/ZelManagerSettings.h"

#include <QFile>
#include <QFileInfo>

ZelManagerRecovery::ZelManagerRecovery(ZelManagerDatabase *database, const QString &targetPath)
    : m_database(database)
    , m_targetPath(targetPath)
{
}

QStringList ZelManagerRecovery::recover(ZelManagerDatabase *database, const QString &targetPath)
{
    const QList<ZelManagerDatabase::JournalEntry> entries
        = database ? database->journal() : QList<ZelManagerDatabase::JournalEntry>();
    if (entries.isEmpty())
        return QStringList();
    ZelManagerRecovery recovery(database, targetPath);
    QStringList report;
    database->beginTransaction();
    for (const ZelManagerDatabase::JournalEntry &entry : entries) {
        const QString text = recovery.recoverEntry(entry);
        qCWarning(zelEngine, "recovery: %s", qUtf8Printable(text));
        report.append(text);
    }
    recovery.removeEmptyFolders();
    if (!database->endTransaction(true))
        report.append(tr("The package database could not be updated: %1").arg(database->writeError()));
    return report;
}

QString ZelManagerRecovery::recoverEntry(const ZelManagerDatabase::JournalEntry &entry)
{
    switch (entry.operation) {
    case ZelManagerDatabase::JournalRemove:
        return completeRemoval(entry);
    case ZelManagerDatabase::JournalReplace:
        return entry.phase == ZelManagerDatabase::JournalSwitching ? completeSwitch(entry) : undoStaging(entry);
    default:
        return undoInstallation(entry);
    }
}

QString ZelManagerRecovery::undoInstallation(const ZelManagerDatabase::JournalEntry &entry)
{
    for (const QString &path : entry.newFiles)
        deleteFile(entry.package, path);
    m_database->commitOutcome(entry.package, [] { return true; });
    return tr("The installation of %1 %2 was interrupted; it has been undone.").arg(entry.package, entry.info.version);
}

QString ZelManagerRecovery::undoStaging(const ZelManagerDatabase::JournalEntry &entry)
{
    const ZelManagerTargetFolder target(m_targetPath);
    for (const QString &path : entry.newFiles) {
        const QString clean = ZelManagerTargetFolder::entryPath(path);
        if (clean.isEmpty())
            continue;
        QFile::remove(ZelManagerTargetFolder::stagedName(target.filePath(clean)));
        m_folders.append(QFileInfo(clean).path());
    }
    m_database->commitOutcome(entry.package, [] { return true; });
    const ZelManagerPackage package = m_database->package(entry.package);
    return tr("The installation of %1 %2 was interrupted; it has been undone, version %3 stays installed.")
        .arg(entry.package, entry.info.version, package.isNull() ? QString() : package.installedVersion());
}

// The staged files are complete (the switch begins only then): each one
// still staged takes its place.
QString ZelManagerRecovery::completeSwitch(const ZelManagerDatabase::JournalEntry &entry)
{
    const ZelManagerTargetFolder target(m_targetPath);
    QStringList files;
    for (const QString &path : entry.newFiles) {
        const QString clean = ZelManagerTargetFolder::entryPath(path);
        if (clean.isEmpty())
            continue;
        const QString file = target.filePath(clean);
        const QString staged = ZelManagerTargetFolder::stagedName(file);
        if (QFileInfo::exists(staged))
            ZelManagerTargetFolder::replaceFile(staged, file);
        if (QFileInfo::exists(file))
            files.append(clean);
    }
    for (const QString &path : entry.oldFiles)
        deleteFile(entry.package, path);
    ZelManagerPackage package = m_database->package(entry.package);
    const bool ok = !package.isNull() && m_database->commitOutcome(entry.package, [&] {
        const int flags = (package.flags() & ~(ZelManagerPackage::RequestMask | ZelManagerPackage::FlagUpgradable))
            | ZelManagerPackage::FlagInstalled;
        return m_database->recordRemoval(entry.package, flags, QStringList(), package.dependants())
            && m_database->recordInstallation(entry.info, files);
    });
    if (!ok)
        return tr("The installation of %1 %2 was interrupted and could not be completed: %3")
            .arg(entry.package, entry.info.version, m_database->writeError());
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    for (auto it = entry.info.fileEntries.cbegin(); it != entry.info.fileEntries.cend(); ++it) {
        if (!it.value())
            settings->addExcludedFile(it.key());
    }
    return tr("The installation of %1 %2 was interrupted; it has been completed, but its scripts did not run.")
        .arg(entry.package, entry.info.version);
}

QString ZelManagerRecovery::completeRemoval(const ZelManagerDatabase::JournalEntry &entry)
{
    ZelManagerPackage package = m_database->package(entry.package);
    const PackageInfo installed = m_database->packageEntry(entry.package, QString(), true);
    for (auto it = installed.fileEntries.cbegin(); it != installed.fileEntries.cend(); ++it)
        deleteFile(entry.package, ZelManagerTargetFolder::installedName(it.key()));
    const bool ok = package.isNull() || m_database->commitOutcome(entry.package, [&] {
        int flags = package.flags() & ~(ZelManagerPackage::FlagInstalled | ZelManagerPackage::FlagUpgradable);
        QStringList requested = package.requestedBy();
        if (package.isRemoveRequested()) {
            flags &= ~ZelManagerPackage::RequestMask;
            requested.clear();
        }
        return m_database->recordRemoval(entry.package, flags, requested, package.dependants());
    });
    if (!ok)
        return tr("The removal of %1 was interrupted and could not be completed: %2")
            .arg(entry.package, m_database->writeError());
    return tr("The removal of %1 was interrupted; it has been completed.").arg(entry.package);
}

// A file that another package records is that package's (a same-run
// handover that had already taken place).
void ZelManagerRecovery::deleteFile(const QString &package, const QString &path)
{
    const QString clean = ZelManagerTargetFolder::entryPath(path);
    if (clean.isEmpty() || !m_database->fileOwner(clean, package).isEmpty())
        return;
    ZelManagerTargetFolder target(m_targetPath);
    const QString file = target.filePath(clean);
    if (target.containsFile(file))
        QFile::remove(file);
    m_folders.append(QFileInfo(clean).path());
}

void ZelManagerRecovery::removeEmptyFolders()
{
    QStringList folders;
    for (const QString &folder : qAsConst(m_folders)) {
        QStringList parts = folder.split(QLatin1Char('/'));
        while (!parts.isEmpty() && parts.first() != QLatin1String(".")) {
            folders.append(parts.join(QLatin1Char('/')));
            parts.removeLast();
        }
    }
    ZelManagerTargetFolder(m_targetPath).removeEmptyFolders(folders);
}
