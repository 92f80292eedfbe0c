#include "engine/ZelManagerDownloadManager.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerPackageDownloader.h"
#include "engine/ZelManagerPackageInstaller.h"
#include "integration/WindowsSupport.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerOperationModel.h"

#include <QFileInfo>

#include <algorithm>

ZelManagerDownloadManager::ZelManagerDownloadManager(ApplyContext *context)
    : QObject(context->operationModel)
    , m_context(context)
    , m_model(context->operationModel)
{
    QHash<QString, QStringList> dependencies;
    if (m_model) {
        m_downloadQueue = m_model->installNames();
        dependencies = m_model->requestedDependencies();
    }
    // Only packages of this pipeline are waited for: a marked removal or a
    // package outside the run would never arrive.
    const QSet<QString> members(m_downloadQueue.cbegin(), m_downloadQueue.cend());
    setUpClaims(members);
    for (const QString &name : qAsConst(m_downloadQueue)) {
        QStringList waits;
        for (const QString &dependency : dependencies.value(name)) {
            if (dependency != name && members.contains(dependency) && !waits.contains(dependency)) {
                waits.append(dependency);
                m_dependants[dependency].append(name);
            }
        }
        m_pending.insert(name, waits);
    }
    connect(this, &ZelManagerDownloadManager::cancelRequest, this, &ZelManagerDownloadManager::onCancelRequest);
}

// The installed versions that the run replaces claim first: the files their
// new versions keep stay theirs, the others are free to take.
void ZelManagerDownloadManager::setUpClaims(const QSet<QString> &members)
{
    const QStringList removals = m_model ? m_model->removeNames() : QStringList();
    m_removals = QSet<QString>(removals.cbegin(), removals.cend());
    m_context->members = members + m_removals;
    const int replacing = ZelManagerPackage::FlagRequestUpgrade | ZelManagerPackage::FlagRequestReinstall;
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    QStringList others;
    for (const QString &name : qAsConst(m_downloadQueue)) {
        const ZelManagerPackage package = database->package(name);
        if (package.isInstalled() && (package.flags() & replacing)) {
            m_replacing.insert(name);
            m_claimOrder.append(name);
        } else {
            others.append(name);
        }
    }
    m_claimOrder += others;
}

ZelManagerDownloadManager::~ZelManagerDownloadManager()
{
    if (m_state != State::Finished)
        setState(State::Finished);
    emit cancelRequest();
    // Their threads end before the run's context can go.
    const QList<QPointer<QThread>> workers = m_workers;
    m_workers.clear();
    for (const QPointer<QThread> &worker : workers)
        delete worker.data();
}

void ZelManagerDownloadManager::start()
{
    if (m_state != State::Idle)
        return;
    setState(State::Running);
    const QString cache = ZelManagerSettings::instance()->cachePath();
    if (!m_downloadQueue.isEmpty() && !QFileInfo(cache).isDir() && !makePath(cache)) {
        const QStringList names = m_downloadQueue;
        for (const QString &name : names) {
            if (!m_failed.contains(name))
                fail(name, tr("Can not create the cache folder %1").arg(cache));
        }
    }
    schedule();
}

void ZelManagerDownloadManager::resume()
{
    schedule();
}

void ZelManagerDownloadManager::onCancelRequest()
{
    m_canceled = true;
    finishIfDone();
}

// Starting an installer runs its preinst script, which lets workers finish
// meanwhile; their handlers only ask for another round, which the outermost
// call makes. No timers: the manager moves when a worker reports.
void ZelManagerDownloadManager::schedule()
{
    if (m_state != State::Running)
        return;
    if (m_scheduling > 0) {
        m_scheduleAgain = true;
        return;
    }
    ++m_scheduling;
    do {
        m_scheduleAgain = false;
        if (m_canceled)
            break;
        // A package failed meanwhile (one it needs has failed) gives up its
        // turn to claim.
        admitInOrder();
        while (!m_canceled && hasRoom() && startDownloadNext()) { }
        if (m_downloadQueue.isEmpty()) {
            while (!m_canceled && hasRoom() && startInstallNext()) { }
        }
        // A full context without a worker of ours is held by the removals;
        // resume() follows when they end.
        if (m_scheduleAgain || m_canceled || !m_workers.isEmpty() || m_pending.isEmpty() || !hasRoom()
            || waitsForRemovals())
            continue;
        // Nothing runs and nothing is ready: the packages left wait for
        // each other.
        const QString member = cycleMember();
        if (member.isEmpty()) {
            failStuck();
        } else {
            m_pending[member].clear();
            m_scheduleAgain = true;
        }
    } while (m_scheduleAgain);
    --m_scheduling;
    finishIfDone();
}

bool ZelManagerDownloadManager::hasRoom() const
{
    return !m_context->isFull();
}

bool ZelManagerDownloadManager::startDownloadNext()
{
    if (m_canceled || m_downloadQueue.isEmpty())
        return false;
    const QString name = m_downloadQueue.takeFirst();
    auto *downloader = new ZelManagerPackageDownloader(m_context, name);
    connect(this, &ZelManagerDownloadManager::cancelRequest, downloader, &ZelManagerPackageDownloader::cancel);
    connect(downloader, &ZelManagerPackageDownloader::finished, this, &ZelManagerDownloadManager::onDownloaderFinished);
    connect(downloader, &ZelManagerPackageDownloader::bytesReceived, this,
        [this, name](qint64 received, qint64 total) { emit downloadProgress(name, received, total); });
    m_workers.append(downloader);
    m_workerNames.insert(downloader, name);
    downloader->execute();
    return true;
}

bool ZelManagerDownloadManager::startInstallNext()
{
    if (m_canceled)
        return false;
    const QString name = nextReady();
    if (name.isEmpty())
        return false;
    m_installQueue.removeAll(name);
    if (failsHandover(name))
        return true;
    auto *installer = new ZelManagerPackageInstaller(m_context, name);
    connect(this, &ZelManagerDownloadManager::cancelRequest, installer, &ZelManagerPackageInstaller::cancel);
    connect(installer, &ZelManagerPackageInstaller::finished, this, &ZelManagerDownloadManager::onInstallerFinished);
    m_workers.append(installer);
    m_workerNames.insert(installer, name);
    installer->execute();
    return true;
}

// Installations in the order the packages claimed their files.
QString ZelManagerDownloadManager::nextReady() const
{
    for (const QString &name : m_installQueue) {
        if (m_pending.value(name).isEmpty() && !isHeldBack(name))
            return name;
    }
    return QString();
}

// A package that takes files from a removal or an upgrade of the run waits
// until those have gone: the remover would delete them otherwise.
bool ZelManagerDownloadManager::isHeldBack(const QString &name) const
{
    return (m_context->removing && m_afterRemovals.contains(name)) || !m_afterUpgrades.value(name).isEmpty();
}

bool ZelManagerDownloadManager::waitsForRemovals() const
{
    if (!m_context->removing)
        return false;
    return std::any_of(m_installQueue.cbegin(), m_installQueue.cend(),
        [this](const QString &name) { return m_afterRemovals.contains(name); });
}

// A removal or an upgrade that failed keeps its files: taking them now would
// make two packages own them.
bool ZelManagerDownloadManager::failsHandover(const QString &name)
{
    if (!m_afterRemovals.contains(name) && !m_afterUpgrades.contains(name))
        return false;
    const QList<QPair<QString, QString>> found
        = ZelManagerDatabase::instance()->fileConflicts(name, ApplyContext::installedPaths(m_context->info(name)));
    if (found.isEmpty())
        return false;
    fail(name, ZelManagerPackageDownloader::conflictText(found));
    return true;
}

void ZelManagerDownloadManager::releaseWaitingFor(const QString &name)
{
    for (auto it = m_afterUpgrades.begin(); it != m_afterUpgrades.end(); ++it)
        it.value().remove(name);
}

// A downloaded package that, through the packages it waits for, waits for
// itself; the first in the install queue.
QString ZelManagerDownloadManager::cycleMember() const
{
    for (const QString &name : m_installQueue) {
        for (const QString &dependency : m_pending.value(name)) {
            if (reaches(dependency, name))
                return name;
        }
    }
    return QString();
}

bool ZelManagerDownloadManager::reaches(const QString &from, const QString &to) const
{
    QSet<QString> seen;
    QStringList todo { from };
    while (!todo.isEmpty()) {
        const QString current = todo.takeLast();
        if (current == to)
            return true;
        if (seen.contains(current))
            continue;
        seen.insert(current);
        todo += m_pending.value(current);
    }
    return false;
}

void ZelManagerDownloadManager::onDownloaderFinished(bool ok)
{
    const QString name = takeFinishedWorker();
    if (name.isEmpty())
        return;
    if (m_failed.contains(name)) {
        // Cancelled because a package it needs has failed.
        if (m_model)
            m_model->setStatus(name, ZelManagerPackage::Error);
    } else if (ok) {
        if (!m_canceled)
            m_verified.insert(name);
    } else if (!m_canceled) {
        // The downloader has recorded its own error.
        m_failed.insert(name);
        ++m_errorCount;
        m_pending.remove(name);
        failWaiting(name);
    }
    admitInOrder();
    schedule();
}

// Each downloaded package claims its files in its turn; a package that
// failed gives up its turn.
void ZelManagerDownloadManager::admitInOrder()
{
    while (!m_canceled && !m_claimOrder.isEmpty()) {
        const QString name = m_claimOrder.first();
        if (!m_failed.contains(name) && !m_verified.contains(name))
            break;
        m_claimOrder.removeFirst();
        if (m_verified.remove(name) && !m_failed.contains(name))
            admit(name);
    }
}

// Owners outside the run the downloader has checked already; here the
// claims of the run and the installed files of its members are decided.
void ZelManagerDownloadManager::admit(const QString &name)
{
    const QStringList paths = ApplyContext::installedPaths(m_context->info(name));
    QList<QPair<QString, QString>> found;
    for (const QString &path : paths) {
        const QString claimant = m_context->claimant(path);
        if (!claimant.isEmpty() && claimant != name)
            found.append({ path, claimant });
    }
    bool afterRemovals = false;
    QSet<QString> afterUpgrades;
    const QList<QPair<QString, QString>> owned = ZelManagerDatabase::instance()->fileConflicts(name, paths);
    for (const QPair<QString, QString> &row : owned) {
        const QString &owner = row.second;
        if (!m_context->members.contains(owner) || !m_context->claimant(row.first).isEmpty())
            continue;
        if (m_removals.contains(owner))
            afterRemovals = true;
        else if (m_replacing.contains(owner) && m_admitted.contains(owner))
            afterUpgrades.insert(owner);
        else
            found.append(row);
    }
    if (!found.isEmpty()) {
        fail(name, ZelManagerPackageDownloader::conflictText(found));
        return;
    }
    m_context->claim(name, paths);
    m_admitted.insert(name);
    if (afterRemovals)
        m_afterRemovals.insert(name);
    if (!afterUpgrades.isEmpty())
        m_afterUpgrades.insert(name, afterUpgrades);
    m_installQueue.append(name);
}

void ZelManagerDownloadManager::onInstallerFinished(bool ok)
{
    const QString name = takeFinishedWorker();
    if (name.isEmpty())
        return;
    releaseWaitingFor(name);
    if (ok) {
        for (const QString &dependant : m_dependants.value(name)) {
            auto it = m_pending.find(dependant);
            if (it != m_pending.end())
                it.value().removeAll(name);
        }
        if (m_model)
            m_model->removePackage(name);
        m_pending.remove(name);
    } else if (!m_canceled) {
        // The installer has recorded its own errors.
        m_failed.insert(name);
        ++m_errorCount;
        m_pending.remove(name);
        failWaiting(name);
    }
    schedule();
}

// Every package that waits for failed, directly or through others, fails
// with an error naming the package it needed. A running download of such a
// package is cancelled; a running installation (of a cycle) ends by itself.
void ZelManagerDownloadManager::failWaiting(const QString &failed)
{
    for (const QString &dependant : m_dependants.value(failed)) {
        if (!m_pending.contains(dependant) || m_failed.contains(dependant))
            continue;
        QThread *running = m_workerNames.key(dependant, nullptr);
        if (qobject_cast<ZelManagerPackageInstaller *>(running))
            continue;
        fail(dependant, tr("Not installed: it depends on %1, which could not be installed").arg(failed));
        if (auto *downloader = qobject_cast<ZelManagerPackageDownloader *>(running))
            downloader->cancel();
    }
}

// Cannot happen with the packages of one run; kept so that the run always
// ends.
void ZelManagerDownloadManager::failStuck()
{
    const QStringList names = m_pending.keys();
    for (const QString &name : names) {
        if (m_pending.contains(name) && !m_failed.contains(name)) {
            fail(name,
                tr("Not installed: it waits for %1, which was not installed")
                    .arg(m_pending.value(name).join(QStringLiteral(", "))));
        }
    }
}

void ZelManagerDownloadManager::fail(const QString &name, const QString &description)
{
    ZelManagerDatabase::instance()->addError(name, ZelManagerDatabase::ErrorInstall, description);
    if (m_model)
        m_model->setStatus(name, ZelManagerPackage::Error);
    m_failed.insert(name);
    ++m_errorCount;
    m_pending.remove(name);
    m_downloadQueue.removeAll(name);
    m_installQueue.removeAll(name);
    releaseWaitingFor(name);
    failWaiting(name);
}

void ZelManagerDownloadManager::finishIfDone()
{
    if (m_state != State::Running || m_scheduling > 0 || !m_workers.isEmpty())
        return;
    if (!m_canceled && !m_pending.isEmpty())
        return;
    setState(State::Finished);
    emit finished(m_errorCount > 0);
}

// Only forward; a transition the lifecycle does not allow is a programming
// error, refused (and asserted in debug builds).
void ZelManagerDownloadManager::setState(State next)
{
    Q_ASSERT_X(next > m_state, "ZelManagerDownloadManager::setState", "transition not allowed");
    if (next > m_state)
        m_state = next;
}

// The package of the worker that sent the finished signal; the worker is
// forgotten and deleted later. Empty for a sender that is not one of ours.
QString ZelManagerDownloadManager::takeFinishedWorker()
{
    auto *worker = qobject_cast<QThread *>(sender());
    if (!worker || !m_workerNames.contains(worker))
        return QString();
    const QString name = m_workerNames.take(worker);
    m_workers.removeAll(worker);
    worker->deleteLater();
    return name;
}
