#include "engine/ZelManagerPackageRemover.h"

#include "database/ZelManagerDatabase.h"
#include "diagnostics/ZelManagerLogging.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerRemoveWorker.h"
#include "engine/ZelManagerScriptEngine.h"
#include "engine/ZelManagerTargetFolder.h"
#include "integration/HostProcessRelease.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerOperationModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

const qint64 ReportMilliseconds = 100;

bool hasScript(const QString &script)
{
    return !script.trimmed().isEmpty();
}

} // namespace

ZelManagerPackageRemover::ZelManagerPackageRemover(ApplyContext *context, const QString &name)
    : ZelManagerPackageRemover(context, name, PackageInfo())
{
    m_info = m_database->packageEntry(name, m_package.installedVersion(), true);
}

ZelManagerPackageRemover::ZelManagerPackageRemover(
    ApplyContext *context, const QString &name, const PackageInfo &installed)
    : QObject(context->operationModel)
    , m_name(name)
    , m_context(context)
    , m_package(ZelManagerDatabase::instance()->package(name))
    , m_info(installed)
    , m_settings(ZelManagerSettings::instance())
    , m_database(ZelManagerDatabase::instance())
    , m_model(context->operationModel)
{
}

ZelManagerPackageRemover::~ZelManagerPackageRemover()
{
    m_stop = true;
    if (m_job)
        m_worker->withdraw(m_job);
}

void ZelManagerPackageRemover::start()
{
    if (m_state != State::Idle)
        return;
    // Counted from the start: the prerm script lets other work run, and the
    // managers must see this remover within the limit meanwhile.
    setState(State::Removing);
    qCDebug(zelEngine, "remove %s %s", qUtf8Printable(m_name), qUtf8Printable(m_package.installedVersion()));
    setProgress(0);
    setStatus(ZelManagerPackage::Removing);
    // Known before anything is touched: a removal that an ended process left
    // half done is completed at the next start.
    if (!m_replacing) {
        ZelManagerDatabase::JournalEntry entry;
        entry.package = m_name;
        entry.operation = ZelManagerDatabase::JournalRemove;
        if (!m_database->writeJournal(entry)) {
            m_journalError = tr("Can not record the start of the removal: %1").arg(m_database->writeError());
            queueDeletion();
            return;
        }
    }
    if (hasScript(m_info.prerm))
        ZelManagerScriptEngine::instance()->evaluate(m_info.prerm, m_name, ZelManagerDatabase::ErrorRemove);
    callTriggers();
    setStatus(ZelManagerPackage::Removing);
    queueDeletion();
}

// The end is reported through the event loop, as a thread's end would be:
// finished() never comes from within start().
void ZelManagerPackageRemover::queueDeletion()
{
    // As many threads as removers may run: those within the limit, and the
    // one that a remove manager always may run beyond it.
    if (!m_context->removeWorker)
        m_context->removeWorker = std::make_shared<ZelManagerRemoveWorker>(m_context->limit + 1);
    if (!m_context->removeTarget)
        m_context->removeTarget = std::make_shared<const ZelManagerTargetFolder>(m_settings->targetPath());
    m_worker = m_context->removeWorker;
    m_targetPrototype = m_context->removeTarget;
    m_job = m_worker->post([this] {
        run();
        QMetaObject::invokeMethod(this, &ZelManagerPackageRemover::onDeletionFinished, Qt::QueuedConnection);
    });
}

// The files are still on disk, so a trigger can read what it has to undo.
// A removal cancelled meanwhile leaves the remaining registrations alone: the
// package stays installed.
void ZelManagerPackageRemover::callTriggers()
{
    for (auto it = m_info.fileEntries.cbegin(); it != m_info.fileEntries.cend() && !m_stop; ++it) {
        const QString path = ZelManagerTargetFolder::installedName(it.key());
        if (path.isEmpty())
            continue;
        const TriggerType type = triggerTypeForPath(it.key());
        ZelManagerTrigger *trigger = type == TriggerType::None ? nullptr : triggerForType(type);
        if (!trigger)
            continue;
        setStatus(ZelManagerPackage::Removing, trigger->removeActionText());
        trigger->removeFile(it.key());
    }
}

void ZelManagerPackageRemover::setReplacement(const QStringList &stagedFiles)
{
    m_replacing = true;
    m_stagedFiles = stagedFiles;
    for (const QString &path : stagedFiles)
        m_keptKeys.insert(ZelManagerTargetFolder::pathKey(path));
}

// A switch is not stopped half way: it is short, and a half-switched package
// would be neither version.
void ZelManagerPackageRemover::cancel()
{
    if (!m_replacing)
        m_stop = true;
}

void ZelManagerPackageRemover::run()
{
    if (!m_journalError.isEmpty())
        return;
    m_progressTimer.start();
    m_target = *m_targetPrototype;
    HostProcessRelease release(m_target.root());
    m_release = &release;
    QSet<QString> folders;
    if (m_replacing)
        switchStagedFiles();

    const QStringList paths = m_info.fileEntries.keys();
    const int count = paths.size();
    for (int i = 0; i < count && !m_stop; ++i) {
        const QString &path = paths.at(i);
        // The installer never writes such a path, so there is nothing of the
        // package to delete there; anything found is someone else's.
        const QString name = ZelManagerTargetFolder::installedName(path);
        if (name.isEmpty() || m_keptKeys.contains(ZelManagerTargetFolder::pathKey(name)))
            continue;
        if (!m_info.fileEntries.value(path))
            m_removedUnfixedFiles.append(path);
        const QString target = m_target.filePath(name);
        // A folder that a link leads elsewhere is not ours to delete in, and
        // one that does not exist holds nothing to delete.
        if (m_target.containsFile(target) && !removeFile(target))
            m_failedFiles.append(path);
        const QStringList parts = name.split(QLatin1Char('/'));
        QString folder;
        for (int part = 0; part + 1 < parts.size(); ++part) {
            folder += (part ? QStringLiteral("/") : QString()) + parts.at(part);
            if (!folders.contains(folder)) {
                folders.insert(folder);
                m_folders.append(folder);
            }
        }
        if (m_progressTimer.elapsed() > ReportMilliseconds) {
            m_progressTimer.restart();
            // The model and the record belong to the GUI thread.
            const int value = int(qint64(i) * 100 / count);
            QMetaObject::invokeMethod(
                this, [this, value] { setProgress(value); }, Qt::QueuedConnection);
        }
    }
    if (m_removedManual)
        removeManualIndex();
    m_folderNames.clear();
    m_release = nullptr;
}

// Each staged file takes its place in one rename; the old file goes with it.
void ZelManagerPackageRemover::switchStagedFiles()
{
    for (const QString &path : qAsConst(m_stagedFiles)) {
        const QString target = m_target.filePath(path);
        const QString staged = ZelManagerTargetFolder::stagedName(target);
        if (ZelManagerTargetFolder::replaceFile(staged, target))
            continue;
        // A program holding the old file (on Windows) is released first.
        if (!(HostProcessRelease::mayBeHeld(target) && m_release->release(target) > 0
                && ZelManagerTargetFolder::replaceFile(staged, target)))
            m_failedSwitches.append(path);
    }
}

// Running programs are ended only for a library or program whose deletion
// failed (on Windows a loaded module cannot be deleted); a program that can
// go on running from a deleted file is left alone.
bool ZelManagerPackageRemover::removeFile(const QString &target)
{
    if (removeOnce(target))
        return true;
    const QFileInfo info(target);
    if (!info.exists() && !info.isSymLink())
        return true; // nothing to delete
    return HostProcessRelease::mayBeHeld(target) && m_release->release(target) > 0 && removeOnce(target);
}

bool ZelManagerPackageRemover::removeOnce(const QString &target)
{
    if (!QFile::remove(target))
        return false;
    removeCompanions(target);
    return true;
}

// Files that programs made from the removed one and that no package records.
// Only those that the folder's listing shows are deleted.
void ZelManagerPackageRemover::removeCompanions(const QString &target)
{
    const QFileInfo info(target);
    const QString suffix = info.suffix().toLower();
    const QString folder = info.path();
    if (suffix == QLatin1String("py")) {
        const QString base = info.fileName().left(info.fileName().size() - 3);
        removeListed(folder, base + QStringLiteral(".pyc"));
        const QString cache = folder + QStringLiteral("/__pycache__");
        if (!namesIn(folder).contains(QStringLiteral("__pycache__")) || !m_target.containsFolder(cache))
            return;
        const QString prefix = base + QStringLiteral(".cpython-");
        const QStringList compiled = namesIn(cache).values();
        for (const QString &file : compiled) {
            if (file.startsWith(prefix) && file.endsWith(QLatin1String(".pyc")))
                removeListed(cache, file);
        }
        if (namesIn(cache).isEmpty() && QDir(folder).rmdir(QStringLiteral("__pycache__")))
            m_folderNames[folder].remove(QStringLiteral("__pycache__"));
    } else if (suffix == QLatin1String("qml")) {
        // The disk cache of the QML engine: x.qmlc beside x.qml.
        removeListed(folder, info.fileName() + QStringLiteral(".qmlc"));
        removeListed(folder, info.fileName() + QLatin1Char('c'));
    } else if (info.completeSuffix().toLower() == QLatin1String("info.gz")) {
        m_removedManual = true;
    }
}

// The index of the Info manuals goes with the last manual.
void ZelManagerPackageRemover::removeManualIndex()
{
    const QString infoFolder = m_target.filePath(QStringLiteral("share/info"));
    const QStringList manuals
        = QDir(infoFolder).entryList({ QStringLiteral("*.info.gz") }, QDir::Files | QDir::Hidden | QDir::System);
    if (manuals.isEmpty())
        QFile::remove(infoFolder + QStringLiteral("/dir"));
}

// The names in a folder, listed once for the removal.
const QSet<QString> &ZelManagerPackageRemover::namesIn(const QString &folder)
{
    auto it = m_folderNames.find(folder);
    if (it == m_folderNames.end()) {
        const QStringList names
            = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        it = m_folderNames.insert(folder, QSet<QString>(names.cbegin(), names.cend()));
    }
    return *it;
}

void ZelManagerPackageRemover::removeListed(const QString &folder, const QString &name)
{
    if (namesIn(folder).contains(name) && QFile::remove(folder + QLatin1Char('/') + name))
        m_folderNames[folder].remove(name);
}

void ZelManagerPackageRemover::onDeletionFinished()
{
    if (m_state != State::Removing)
        return;
    setState(State::Completing);
    bool ok = false;
    if (!m_journalError.isEmpty()) {
        m_database->addError(m_name, ZelManagerDatabase::ErrorRemove, m_journalError);
        setStatus(ZelManagerPackage::Error);
    } else if (m_stop) {
        setStatus(ZelManagerPackage::Canceling);
    } else if (!m_failedFiles.isEmpty() || !m_failedSwitches.isEmpty()) {
        for (const QString &path : qAsConst(m_failedSwitches))
            m_database->addError(m_name, ZelManagerDatabase::ErrorInstall, tr("Failed to install: %1").arg(path));
        for (const QString &path : qAsConst(m_failedFiles))
            m_database->addError(m_name, ZelManagerDatabase::ErrorRemove, tr("Failed to remove: %1").arg(path));
        // A switch whose new files are all in place is complete; the old
        // files that stay are the installer's to record.
        if (m_replacing && m_failedSwitches.isEmpty())
            ok = finishRemoval();
        else
            setStatus(ZelManagerPackage::Error);
    } else {
        ok = finishRemoval();
    }
    // The package stays recorded as installed: nothing is left to complete
    // (unless the removal is done but could not be recorded).
    if (!ok && !m_replacing && m_journalError.isEmpty() && !m_recordFailed) {
        m_database->dropJournal(m_name);
        m_database->commitProgress();
    }
    qCDebug(zelEngine, "remove %s: %s, %d files failed", qUtf8Printable(m_name),
        ok           ? "done"
            : m_stop ? "stopped"
                     : "failed",
        int(m_failedFiles.size()));
    // Counted stopped before the signal, so that the receiver can start the
    // next worker within the limit.
    setState(State::Finished);
    emit finished(ok);
}

// Each step is entered once, in order; the count in the context follows.
void ZelManagerPackageRemover::setState(State next)
{
    Q_ASSERT_X(int(next) == int(m_state) + 1, "ZelManagerPackageRemover::setState", "transition not allowed");
    if (int(next) != int(m_state) + 1)
        return;
    m_state = next;
    if (next == State::Removing)
        m_context->countRunning();
    else if (next == State::Finished)
        m_context->countStopped();
}

// The removal and the end of its journal entry are committed together. One
// that cannot be recorded is completed at the next start.
bool ZelManagerPackageRemover::finishRemoval()
{
    if (hasScript(m_info.postrm))
        ZelManagerScriptEngine::instance()->evaluate(m_info.postrm, m_name, ZelManagerDatabase::ErrorRemove);
    if (!m_replacing && !recordRemoval()) {
        m_recordFailed = true;
        m_database->addError(m_name, ZelManagerDatabase::ErrorRemove,
            tr("Can not record the removal: %1. It is completed at the next start.").arg(m_database->writeError()));
        setStatus(ZelManagerPackage::Error);
        return false;
    }
    setProgress(100);
    setStatus(ZelManagerPackage::Removed);
    for (const QString &path : qAsConst(m_removedUnfixedFiles))
        m_settings->removeExcludedFile(path);
    return true;
}

// A fulfilled removal request is dropped with the installed state.
bool ZelManagerPackageRemover::recordRemoval()
{
    if (m_package.isNull())
        return m_database->commitOutcome(m_name, [] { return true; });
    int flags = m_package.flags() & ~(ZelManagerPackage::FlagInstalled | ZelManagerPackage::FlagUpgradable);
    QStringList requested = m_package.requestedBy();
    if (m_package.isRemoveRequested()) {
        flags &= ~ZelManagerPackage::RequestMask;
        requested.clear();
    }
    return m_database->commitOutcome(
        m_name, [&] { return m_database->recordRemoval(m_name, flags, requested, m_package.dependants()); });
}

void ZelManagerPackageRemover::setStatus(PackageStatus status, const QString &message)
{
    if (m_model)
        m_model->setStatus(m_name, status, message);
    else
        m_package.setStatus(status, message);
}

void ZelManagerPackageRemover::setProgress(int value)
{
    if (m_model)
        m_model->setProgress(m_name, value);
    else
        m_package.setProgress(value);
}
