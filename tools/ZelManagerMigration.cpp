#include "tools/ZelManagerMigration.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerInstallLock.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/HostProcessRelease.h"
#include "integration/WindowsSupport.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tools/ZelManagerFileCopierManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const int StepMilliseconds = 100;
const char LockName[] = "pkgdb/zelmanager.lock";

// The install tree is a Windows tree, whose names do not tell letter cases
// apart; elsewhere the host's file system decides.
#ifdef Q_OS_WIN
const Qt::CaseSensitivity PathCase = Qt::CaseInsensitive;
#else
const Qt::CaseSensitivity PathCase = Qt::CaseSensitive;
#endif

QString cleanFolder(const QString &path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(path.trimmed()));
}

// The place a folder names, links resolved as far as it exists: two names
// of one place compare equal, also for a folder still to be made.
QString resolvedFolder(const QString &path)
{
    QString existing = QDir::cleanPath(QDir(path).absolutePath());
    QString rest;
    while (!QFileInfo(existing).exists()) {
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return QDir::cleanPath(path);
        rest = existing.mid(slash) + rest;
        existing = existing.left(slash);
    }
    return QDir::cleanPath(QFileInfo(existing).canonicalFilePath() + rest);
}

bool isSamePath(const QString &a, const QString &b)
{
    return a.compare(b, PathCase) == 0;
}

bool isBelow(const QString &path, const QString &root)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix, PathCase);
}

// The files of the package database's lock are the running program's, not
// the installation's: never copied, never removed by the move.
bool isLockFile(const QString &relative)
{
    return relative.startsWith(QLatin1String(LockName));
}

bool isDriveRoot(const QString &path)
{
    if (QDir(path).isRoot() || path == QLatin1String("/"))
        return true;
    // "C:" or "C:/" on any host.
    return (path.size() == 2 || (path.size() == 3 && path.at(2) == QLatin1Char('/'))) && path.at(0).isLetter()
        && path.at(1) == QLatin1Char(':');
}

} // namespace

ZelManagerMigration::ZelManagerMigration(const QString &newInstallPath, QObject *parent)
    : QObject(parent)
    , m_settings(ZelManagerSettings::instance())
    , m_architecture(m_settings->architecture(true))
    , m_oldInstallPath(m_settings->installPath())
    , m_newInstallPath(cleanFolder(newInstallPath))
{
    m_clock.start();
}

ZelManagerMigration::~ZelManagerMigration() = default;

int ZelManagerMigration::allowedLength(const QString &architecture)
{
    // The target folder (install folder, "/", architecture) must fit in the
    // build prefix that the installer overwrites.
    return qMax(0, ZelManagerSettings::toolchainRoot(architecture).size() - architecture.size() - 1);
}

QString ZelManagerMigration::folderRefusal(const QString &path, const QString &architecture, int *allowed)
{
    const int length = allowedLength(architecture);
    if (allowed)
        *allowed = length;
    if (path.toLocal8Bit().size() > length)
        return tr("Selected path tool long, only %1 characters allowed").arg(length);
    if (isDriveRoot(cleanFolder(path)))
        return tr("Selected path is root folder, not acceptable");
    return QString();
}

QString ZelManagerMigration::oldTarget() const
{
    return m_oldInstallPath + QLatin1Char('/') + m_architecture;
}

QString ZelManagerMigration::newTarget() const
{
    return m_newInstallPath + QLatin1Char('/') + m_architecture;
}

QString ZelManagerMigration::refusal(Mode mode) const
{
    if (ZelManagerDatabase::instance()->isInTransaction())
        return tr("Packages are being changed. Apply the target settings when that has finished.");
    if (m_newInstallPath.isEmpty() || !QDir::isAbsolutePath(m_newInstallPath))
        return tr("Please choose the new installation folder with its full path.");
    const QString refused = folderRefusal(m_newInstallPath, m_architecture);
    if (!refused.isEmpty())
        return refused;
    const QString oldFolder = resolvedFolder(m_oldInstallPath);
    const QString newFolder = resolvedFolder(m_newInstallPath);
    if (isSamePath(oldFolder, newFolder))
        return tr("The new installation folder is the current one.");
    if (isBelow(newFolder, oldFolder))
        return tr("The new installation folder %1 lies inside the current one, %2. Choose a folder outside it.")
            .arg(QDir::toNativeSeparators(m_newInstallPath), QDir::toNativeSeparators(m_oldInstallPath));
    if (isBelow(oldFolder, newFolder))
        return tr("The current installation folder %1 lies inside the new one, %2. Choose a folder outside it.")
            .arg(QDir::toNativeSeparators(m_oldInstallPath), QDir::toNativeSeparators(m_newInstallPath));
    if (mode != Migrate)
        return QString();
    const QFileInfo target(m_newInstallPath);
    if (target.exists() && !target.isDir())
        return tr("%1 is not a folder.").arg(QDir::toNativeSeparators(m_newInstallPath));
    if (target.exists()
        && !QDir(m_newInstallPath).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return tr("The folder %1 already holds files. Choose an empty or a new folder to migrate the installation to.")
            .arg(QDir::toNativeSeparators(m_newInstallPath));
    return QString();
}

bool ZelManagerMigration::run(Mode mode)
{
    m_errorText.clear();
    m_errorDetails.clear();
    const QString refused = refusal(mode);
    if (!refused.isEmpty()) {
        fail(refused);
        return false;
    }
    // The new folder is locked before anything happens there: another
    // program that holds it refuses the move.
    // What the move makes of the new folder's path goes again if it fails.
    for (QString folder = m_newInstallPath; !folder.isEmpty() && !QFileInfo::exists(folder);
         folder = QFileInfo(folder).path()) {
        m_createdRoots.append(folder);
        if (QFileInfo(folder).path() == folder)
            break;
    }
    const bool hadDatabaseFolder = QFileInfo::exists(m_newInstallPath + QStringLiteral("/pkgdb"));
    m_newLock.reset(new ZelManagerInstallLock(m_newInstallPath));
    if (!m_newLock->tryLock()) {
        fail(m_newLock->errorText());
        m_newLock.reset();
        if (!hadDatabaseFolder)
            QDir(m_newInstallPath).rmdir(QStringLiteral("pkgdb"));
        removeCreatedRoots();
        return false;
    }
    if (!hadDatabaseFolder)
        m_createdFolders.append(QStringLiteral("pkgdb"));

    collectInformation();
    if (mode == Migrate && !(prepareFolders() && copyFiles())) {
        removePartialCopy();
        return false;
    }
    runScripts(tr("Processing pre-rms ..."), m_preRemovalScripts);
    runTriggers(false);
    switchSettings();
    if (mode == Switch)
        collectArrival();
    if (mode == Migrate) {
        m_keptOldFolder = m_confirmRemoval && !m_confirmRemoval();
        if (!m_keptOldFolder) {
            removeFiles();
            removeFolders();
            runScripts(tr("Processing post-rms ..."), m_postRemovalScripts);
        }
    }
    runTriggers(true);
    runScripts(tr("Processing post-insts ..."), m_postInstallScripts);
    return true;
}

void ZelManagerMigration::fail(const QString &text, const QString &details)
{
    m_errorText = text;
    m_errorDetails = details;
}

void ZelManagerMigration::startStep(const QString &format, int maximum)
{
    emit stepStarted(format, maximum);
    m_due = 0;
    step(0);
}

// Lets the progress bar repaint now and then; the user's input waits, so
// that nothing else changes the installation meanwhile.
void ZelManagerMigration::step(int value)
{
    emit progress(value);
    if (m_clock.elapsed() < m_due)
        return;
    m_due = m_clock.elapsed() + StepMilliseconds;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ZelManagerMigration::collectInformation()
{
    startStep(tr("Collecting information ..."), 0);
    // The fix-up configuration goes along with the files; written now, it
    // is among them.
    m_settings->writeFixConfiguration();
    walkFolder(m_oldInstallPath, true);
    // Parents before their children.
    std::sort(m_folders.begin(), m_folders.end());
    collectPackages(true);
}

// The files and folders of the install folder (with the files' trigger
// kinds); with list false only the trigger kinds.
void ZelManagerMigration::walkFolder(const QString &folder, bool list)
{
    const QString prefix = m_architecture + QLatin1Char('/');
    const int rootLength = folder.size() + 1;
    QDirIterator it(
        folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    int count = 0;
    while (it.hasNext()) {
        const QString relative = it.next().mid(rootLength);
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            if (list)
                m_folders.append(relative);
        } else if (!isLockFile(relative)) {
            if (list)
                m_files.append(relative);
            if (relative.startsWith(prefix)) {
                const int kind = int(triggerTypeForPath(relative.mid(prefix.size())));
                if (kind >= int(TriggerType::Application) && kind <= int(TriggerType::SystemService))
                    m_triggerFiles.insert(kind, relative.mid(prefix.size()));
            }
        }
        if (++count % 256 == 0)
            step(0);
    }
}

// The scripts of the installed packages (and, with files, the fix flags of
// their files).
void ZelManagerMigration::collectPackages(bool files)
{
    const QString prefix = m_architecture + QLatin1Char('/');
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    const QHash<QString, ZelManagerPackage> packages = database->packages();
    QStringList names;
    for (auto it = packages.cbegin(); it != packages.cend(); ++it) {
        if (it.value().isInstalled())
            names.append(it.key());
    }
    std::sort(names.begin(), names.end());
    for (const QString &name : qAsConst(names)) {
        const PackageInfo info = database->packageEntry(name, QString(), true);
        if (!info.prerm.trimmed().isEmpty())
            m_preRemovalScripts.append({ name, info.prerm });
        if (!info.postrm.trimmed().isEmpty())
            m_postRemovalScripts.append({ name, info.postrm });
        if (!info.postinst.trimmed().isEmpty())
            m_postInstallScripts.append({ name, info.postinst });
        for (auto file = info.fileEntries.cbegin(); files && file != info.fileEntries.cend(); ++file) {
            // A compressed Info manual holds no path to relocate.
            const bool fix = file.value() && !file.key().endsWith(QLatin1String(".info.gz"));
            m_fixFiles.insert(prefix + file.key(), fix);
        }
        step(0);
    }
}

// After a switch the packages of the new folder are the ones registered:
// its own trigger files and post-install scripts, not the old folder's.
void ZelManagerMigration::collectArrival()
{
    m_triggerFiles.clear();
    m_preRemovalScripts.clear();
    m_postRemovalScripts.clear();
    m_postInstallScripts.clear();
    walkFolder(m_newInstallPath, false);
    collectPackages(false);
}

bool ZelManagerMigration::prepareFolders()
{
    startStep(tr("Preparing folders (%v/%m) ..."), m_folders.size());
    if (!QDir().mkpath(m_newInstallPath)) {
        fail(tr("Failed to copy installed files into new folder!"),
            tr("Can not create the folder %1.").arg(QDir::toNativeSeparators(m_newInstallPath)));
        return false;
    }
    for (int i = 0; i < m_folders.size(); ++i) {
        const QString &relative = m_folders.at(i);
        const QString folder = m_newInstallPath + QLatin1Char('/') + relative;
        if (!(relative == QLatin1String("pkgdb") && QFileInfo(folder).isDir())) {
            if (!QDir().mkdir(folder)) {
                fail(tr("Failed to copy installed files into new folder!"),
                    tr("Can not create the folder %1.").arg(QDir::toNativeSeparators(folder)));
                return false;
            }
            m_createdFolders.append(relative);
        }
        step(i + 1);
    }
    return true;
}

bool ZelManagerMigration::copyFiles()
{
    startStep(tr("Copying files (%v/%m) ..."), m_files.size());
    QList<ZelManagerFileCopierManager::File> files;
    files.reserve(m_files.size());
    for (const QString &path : qAsConst(m_files))
        files.append({ path, m_fixFiles.value(path, false) });
    // The installed files carry the target folder in its short form.
    ZelManagerFileCopierManager manager(m_oldInstallPath, m_newInstallPath);
    manager.setPrefixes(shortPathName(oldTarget()).toUtf8(), shortPathName(newTarget()).toUtf8());
    manager.setFiles(files);
    connect(&manager, &ZelManagerFileCopierManager::progress, this, &ZelManagerMigration::progress);
    if (manager.exec())
        return true;
    fail(tr("Failed to copy installed files into new folder!"), manager.failures().join(QLatin1Char('\n')));
    return false;
}

// Everything the move made in the new folder goes again: the copied files,
// the folders it made, the lock.
void ZelManagerMigration::removePartialCopy()
{
    for (const QString &path : qAsConst(m_files)) {
        const QString file = m_newInstallPath + QLatin1Char('/') + path;
        if (QFileInfo(file).isSymLink() || QFileInfo::exists(file))
            QFile::remove(file);
    }
    m_newLock.reset();
    for (auto it = m_createdFolders.crbegin(); it != m_createdFolders.crend(); ++it)
        QDir(m_newInstallPath).rmdir(*it);
    removeCreatedRoots();
}

// The new folder and its parents that the move made, deepest first, each
// only when empty.
void ZelManagerMigration::removeCreatedRoots()
{
    for (const QString &folder : qAsConst(m_createdRoots))
        QDir().rmdir(folder);
}

void ZelManagerMigration::runScripts(const QString &format, const QList<Script> &scripts)
{
    startStep(format, scripts.size());
    ZelManagerScriptEngine *engine = ZelManagerScriptEngine::instance();
    engine->setInstallFolder(m_settings->targetPath());
    for (int i = 0; i < scripts.size(); ++i) {
        engine->evaluate(scripts.at(i).text, scripts.at(i).package, ZelManagerDatabase::ErrorInstall);
        step(i + 1);
    }
}

// The triggers work on the settings' target folder: the old one while
// removing, the new one while adding.
void ZelManagerMigration::runTriggers(bool adding)
{
    startStep(tr("Processing triggers ..."), m_triggerFiles.size());
    beginTriggers();
    int done = 0;
    for (auto it = m_triggerFiles.cbegin(); it != m_triggerFiles.cend(); ++it) {
        if (ZelManagerTrigger *trigger = triggerForType(TriggerType(it.key()))) {
            if (adding)
                trigger->installFile(it.value());
            else
                trigger->removeFile(it.value());
        }
        step(++done);
    }
    finishTriggers();
}

void ZelManagerMigration::switchSettings()
{
    m_settings->setInstallPath(m_newInstallPath);
    // The copied fix-up configuration still names the old folder.
    if (!m_files.isEmpty() && QFileInfo::exists(newTarget()))
        m_settings->writeFixConfiguration();
    if (ZelManagerInstallLock *current = ZelManagerInstallLock::current())
        current->swap(*m_newLock);
    // The old folder's lock when the program's lock moved, else the new one.
    m_newLock.reset();
}

void ZelManagerMigration::removeFiles()
{
    startStep(tr("Removing files (%v/%m) ..."), m_files.size());
    HostProcessRelease release(m_oldInstallPath);
    for (int i = 0; i < m_files.size(); ++i) {
        const QString &path = m_files.at(i);
        const QString file = m_oldInstallPath + QLatin1Char('/') + path;
        const QString copy = m_newInstallPath + QLatin1Char('/') + path;
        // Only a file whose copy is in place goes. A running program is
        // ended only for a file it keeps from being deleted.
        bool removed = false;
        const QFileInfo copyInfo(copy);
        if (copyInfo.exists() || copyInfo.isSymLink()) {
            removed = QFile::remove(file) || !(QFileInfo::exists(file) || QFileInfo(file).isSymLink());
            if (!removed)
                removed = HostProcessRelease::mayBeHeld(file) && release.release(file) > 0 && QFile::remove(file);
        }
        if (!removed)
            m_remainingFiles.append(path);
        step(i + 1);
    }
}

void ZelManagerMigration::removeFolders()
{
    startStep(tr("Removing folders (%v/%m) ..."), m_folders.size());
    const QDir root(m_oldInstallPath);
    for (int i = m_folders.size() - 1; i >= 0; --i) {
        root.rmdir(m_folders.at(i));
        step(m_folders.size() - i);
    }
    QDir().rmdir(m_oldInstallPath);
}
