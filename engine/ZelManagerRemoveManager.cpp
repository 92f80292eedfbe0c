#include "engine/ZelManagerRemoveManager.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "engine/ZelManagerPackageRemover.h"
#include "engine/ZelManagerTargetFolder.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerOperationModel.h"

#include <QQueue>

ZelManagerRemoveManager::ZelManagerRemoveManager(ApplyContext *context)
    : QObject(context->operationModel)
    , m_context(context)
    , m_model(context->operationModel)
{
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    if (m_model)
        m_queue = m_model->removeNames();
    m_context->removing = !m_queue.isEmpty();
    for (const QString &name : qAsConst(m_queue)) {
        const PackageInfo info = database->packageEntry(name, database->package(name).installedVersion(), true);
        m_context->putInfo(name, info);
        m_installed.insert(name, info);
        QStringList blockers;
        for (const QString &dependant : info.dependants) {
            if (dependant != name && !blockers.contains(dependant) && database->package(dependant).isRemoveRequested())
                blockers.append(dependant);
        }
        for (const QString &blocker : qAsConst(blockers))
            m_waiting[blocker].append(name);
        m_blockers.insert(name, blockers);
    }
    m_queued = QSet<QString>(m_queue.cbegin(), m_queue.cend());
    connect(this, &ZelManagerRemoveManager::cancelRequest, this, &ZelManagerRemoveManager::onCancelRequest);
}

ZelManagerRemoveManager::~ZelManagerRemoveManager()
{
    m_canceled = true;
    for (const QPointer<ZelManagerPackageRemover> &remover : qAsConst(m_removers)) {
        if (remover)
            remover->cancel();
    }
    // Their threads end before the run's context can go; the removers would
    // report to nobody now.
    for (const QPointer<ZelManagerPackageRemover> &remover : qAsConst(m_removers))
        delete remover.data();
}

void ZelManagerRemoveManager::start()
{
    startQueued();
    finishIfDone();
}

void ZelManagerRemoveManager::onCancelRequest()
{
    m_canceled = true;
}

// Starting a remover runs its prerm script, which lets other removers finish
// meanwhile; the queue is walked on a copy and re-checked for each name.
// One remover of this manager may always run, even when other workers fill
// the limit, so that the queue keeps moving.
void ZelManagerRemoveManager::startQueued()
{
    ++m_starting;
    const QStringList queue = m_queue;
    for (const QString &name : queue) {
        if (!m_queued.contains(name))
            continue;
        if (m_canceled || m_context->stop || (isBusy() && m_context->isFull()))
            break;
        startRemovePackage(name);
    }
    --m_starting;
}

bool ZelManagerRemoveManager::startRemovePackage(const QString &name)
{
    if (!m_queued.contains(name))
        return false;
    QStringList &blockers = m_blockers[name];
    blockers.removeAll(name);
    if (!blockers.isEmpty() || m_canceled)
        return false;

    m_queue.removeOne(name); // names are queued once; the next to start is near the front
    m_queued.remove(name);
    auto *remover = new ZelManagerPackageRemover(m_context, name, m_installed.value(name));
    connect(this, &ZelManagerRemoveManager::cancelRequest, remover, &ZelManagerPackageRemover::cancel);
    connect(remover, &ZelManagerPackageRemover::finished, this, &ZelManagerRemoveManager::onRemoverFinished);
    m_removers.append(remover);
    ++m_startedCount;
    remover->start();
    return true;
}

void ZelManagerRemoveManager::onRemoverFinished(bool ok)
{
    auto *remover = qobject_cast<ZelManagerPackageRemover *>(sender());
    if (!remover || !m_removers.contains(remover))
        return;
    m_removers.removeAll(remover);
    const QString name = remover->name();
    if (ok) {
        m_folders += remover->folders();
        if (m_model)
            m_model->removePackage(name);
        for (const QString &waiting : m_waiting.value(name))
            m_blockers[waiting].removeAll(name);
    } else {
        ++m_failedCount;
    }
    remover->deleteLater();
    ++m_finishedCount;
    startQueued();
    finishIfDone();
}

void ZelManagerRemoveManager::finishIfDone()
{
    if (m_done || m_starting > 0 || isBusy())
        return;
    m_done = true;
    if (!m_queue.isEmpty() && !m_canceled && !m_context->stop)
        reportStuckPackages();
    // Nothing outside the target folder is touched.
    ZelManagerTargetFolder(ZelManagerSettings::instance()->targetPath()).removeEmptyFolders(m_folders);
    m_context->removing = false;
    emit finished(m_failedCount == 0 && m_queue.isEmpty());
}

// Nothing runs and nothing can start: every name left waits for a blocker
// that failed, that is not removed in this run, or that waits in turn.
void ZelManagerRemoveManager::reportStuckPackages()
{
    QHash<QString, QStringList> cycles;
    for (const QString &name : qAsConst(m_queue))
        cycles.insert(name, cycleThrough(name));
    for (const QString &name : qAsConst(m_queue)) {
        const QStringList cycle = cycles.value(name);
        if (!cycle.isEmpty()) {
            failWaiting(name,
                tr("Not removed: the packages marked for removal depend on each other in a cycle: %1")
                    .arg(cycle.join(QStringLiteral(" -> "))));
        } else {
            failWaiting(name,
                tr("Not removed: it is still needed by %1, whose removal did not succeed")
                    .arg(m_blockers.value(name).join(QStringLiteral(", "))));
        }
    }
}

// The shortest way from name back to itself through queued blockers, in the
// direction of the dependencies (a -> b: a depends on b); empty when name
// lies on no cycle.
QStringList ZelManagerRemoveManager::cycleThrough(const QString &name) const
{
    QHash<QString, QString> reachedFrom;
    QQueue<QString> pending;
    pending.enqueue(name);
    while (!pending.isEmpty()) {
        const QString current = pending.dequeue();
        for (const QString &blocker : m_blockers.value(current)) {
            if (!m_queued.contains(blocker) || reachedFrom.contains(blocker))
                continue;
            reachedFrom.insert(blocker, current);
            if (blocker == name) {
                // Walking back along the blockers follows the dependencies.
                QStringList cycle { name };
                for (QString step = current; step != name; step = reachedFrom.value(step))
                    cycle.append(step);
                cycle.append(name);
                return cycle;
            }
            pending.enqueue(blocker);
        }
    }
    return QStringList();
}

void ZelManagerRemoveManager::failWaiting(const QString &name, const QString &description)
{
    ZelManagerDatabase::instance()->addError(name, ZelManagerDatabase::ErrorRemove, description);
    if (m_model)
        m_model->setStatus(name, ZelManagerPackage::Error);
    ++m_failedCount;
}
