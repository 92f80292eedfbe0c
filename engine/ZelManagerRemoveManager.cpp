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
        m_order = m_model->removeNames();
    m_context->removing = !m_order.isEmpty();
    for (const QString &name : qAsConst(m_order)) {
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
    m_queued = QSet<QString>(m_order.cbegin(), m_order.cend());
    for (int i = 0; i < m_order.size(); ++i) {
        m_position.insert(m_order.at(i), i);
        if (m_blockers.value(m_order.at(i)).isEmpty())
            m_ready.insert(i, m_order.at(i));
    }
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

QStringList ZelManagerRemoveManager::queue() const
{
    QStringList names;
    for (const QString &name : m_order) {
        if (m_queued.contains(name))
            names.append(name);
    }
    return names;
}

// Starting a remover runs its prerm script, which lets other removers finish
// meanwhile (and start this loop again); the ready names are looked at
// afresh for each start.
// One remover of this manager may always run, even when other workers fill
// the limit, so that the queue keeps moving.
void ZelManagerRemoveManager::startQueued()
{
    ++m_starting;
    while (!m_ready.isEmpty() && !m_canceled && !m_context->stop && !(isBusy() && m_context->isFull())) {
        const QString name = m_ready.first(); // a copy: starting takes it out of m_ready
        if (!startRemovePackage(name))
            break;
    }
    --m_starting;
}

bool ZelManagerRemoveManager::startRemovePackage(const QString &name)
{
    if (!m_queued.contains(name) || !m_blockers.value(name).isEmpty() || m_canceled)
        return false;

    m_queued.remove(name);
    m_ready.remove(m_position.value(name));
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
        for (const QString &waiting : m_waiting.value(name)) {
            QStringList &blockers = m_blockers[waiting];
            blockers.removeAll(name);
            if (blockers.isEmpty() && m_queued.contains(waiting))
                m_ready.insert(m_position.value(waiting), waiting);
        }
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
    if (!m_queued.isEmpty() && !m_canceled && !m_context->stop)
        reportStuckPackages();
    // Nothing outside the target folder is touched.
    ZelManagerTargetFolder(ZelManagerSettings::instance()->targetPath()).removeEmptyFolders(m_folders);
    m_context->removing = false;
    emit finished(m_failedCount == 0 && m_queued.isEmpty());
}

// Nothing runs and nothing can start: every name left waits for a blocker
// that failed, that is not removed in this run, or that waits in turn.
void ZelManagerRemoveManager::reportStuckPackages()
{
    const QStringList stuck = queue();
    QHash<QString, QStringList> cycles;
    for (const QString &name : stuck)
        cycles.insert(name, cycleThrough(name));
    for (const QString &name : stuck) {
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
