#include "ui/ZelManagerOperationModel.h"

#include "database/ZelManagerDatabase.h"

#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>

ZelManagerOperationModel::ZelManagerOperationModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_timer(new QTimer(this))
    , m_database(ZelManagerDatabase::instance())
{
    connect(m_timer, &QTimer::timeout, this, &ZelManagerOperationModel::onUpdateTimerTimeout);
    m_timer->start(100);
}

ZelManagerOperationModel::~ZelManagerOperationModel() = default;

int ZelManagerOperationModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant ZelManagerOperationModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    if (role == Qt::EditRole)
        return m_rows.at(index.row());
    if (role == Qt::ToolTipRole)
        return m_database->errorDescriptions(m_rows.at(index.row()));
    return QVariant();
}

int ZelManagerOperationModel::rowOf(const QString &name) const
{
    const int key = m_keyOf.value(name, -1);
    return key < 0 ? -1 : m_keyRow.at(key);
}

void ZelManagerOperationModel::refresh()
{
    beginResetModel();
    m_installNames.clear();
    m_removeNames.clear();
    m_rows.clear();
    m_requestedDependants.clear();
    m_requestedDependencies.clear();
    QStringList requested;
    collectRequests(requested);
    collectRelations(requested);
    m_rows = requested;
    resetKeys();
    endResetModel();
    emit packageCountChanged(m_rows.size());
}

// In name order, so that downloads start in an order the user can follow.
void ZelManagerOperationModel::collectRequests(QStringList &requested)
{
    const QHash<QString, ZelManagerPackage> packages = m_database->packages();
    for (auto it = packages.cbegin(); it != packages.cend(); ++it) {
        if (it.value().isRequested())
            requested.append(it.key());
    }
    std::sort(requested.begin(), requested.end());
    for (const QString &name : qAsConst(requested)) {
        if (packages.value(name).isRemoveRequested())
            m_removeNames.append(name);
        else
            m_installNames.append(name);
    }
}

// An install or upgrade is ordered by the version it brings, a removal or
// reinstall by the installed one.
void ZelManagerOperationModel::collectRelations(const QStringList &requested)
{
    const QSet<QString> requestedSet(requested.cbegin(), requested.cend());
    for (const QString &name : requested) {
        const ZelManagerPackage package = m_database->package(name);
        const bool newVersion = package.isInstallRequested() && !package.isReinstallRequested();
        const PackageInfo info = newVersion ? m_database->packageEntry(name, package.availableVersion(), false)
                                            : m_database->packageEntry(name, package.installedVersion(), true);
        QStringList dependants;
        for (const QString &dependant : info.dependants) {
            if (dependant != name && requestedSet.contains(dependant) && !dependants.contains(dependant))
                dependants.append(dependant);
        }
        QStringList dependencies;
        for (const QString &item : info.dependencies) {
            const QString dependency = splitDependency(item).first.trimmed();
            if (dependency != name && requestedSet.contains(dependency) && !dependencies.contains(dependency))
                dependencies.append(dependency);
        }
        m_requestedDependants.insert(name, dependants);
        m_requestedDependencies.insert(name, dependencies);
    }
}

// Reports still queued carry keys of the old list: they are dropped.
void ZelManagerOperationModel::resetKeys()
{
    m_ring.discard();
    const int count = m_rows.size();
    m_keyOf.clear();
    m_keyRecords.resize(count);
    m_keyRow.resize(count);
    m_pending.reset(new std::atomic<bool>[std::max(1, count)]);
    for (int key = 0; key < count; ++key) {
        m_keyOf.insert(m_rows.at(key), key);
        m_keyRecords[key] = m_database->package(m_rows.at(key));
        m_keyRow[key] = key;
        m_pending[key].store(false, std::memory_order_relaxed);
    }
}

void ZelManagerOperationModel::removePackage(const QString &name)
{
    if (m_database->package(name).isNull())
        return;
    const int key = m_keyOf.value(name, -1);
    const int row = key < 0 ? -1 : m_keyRow.at(key);
    if (row >= 0) {
        beginRemoveRows(QModelIndex(), row, row);
        m_rows.removeAt(row);
        for (int &keyRow : m_keyRow) {
            if (keyRow > row)
                --keyRow;
        }
        m_keyRow[key] = -1;
        endRemoveRows();
    }
    m_requestedDependants.remove(name);
    m_installNames.removeAll(name);
    m_removeNames.removeAll(name);
    emit packageCountChanged(m_rows.size());
}

// Workers ask for the packages of the run, whose records were taken at the
// refresh; the database's hash is read only for other names.
ZelManagerPackage ZelManagerOperationModel::record(const QString &name) const
{
    const int key = m_keyOf.value(name, -1);
    return key < 0 ? m_database->package(name) : m_keyRecords.at(key);
}

void ZelManagerOperationModel::setProgress(const QString &name, int value)
{
    ZelManagerPackage package = record(name);
    if (package.isNull())
        return;
    package.setProgress(value);
    updatePackage(name);
}

void ZelManagerOperationModel::setStatus(const QString &name, PackageStatus status, const QString &message)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, name, status, message]() { setStatus(name, status, message); }, Qt::QueuedConnection);
        return;
    }
    ZelManagerPackage package = record(name);
    if (package.isNull())
        return;
    package.setStatus(status, message);
    updatePackage(name);
}

void ZelManagerOperationModel::updatePackage(const QString &name)
{
    const int key = m_keyOf.value(name, -1);
    if (key < 0)
        return;
    if (QThread::currentThread() == thread()) {
        emitKeyChanged(key);
        return;
    }
    // Already queued and not yet drained: that report covers this one too.
    if (m_pending[key].exchange(true, std::memory_order_acq_rel))
        return;
    m_ring.push(key);
}

void ZelManagerOperationModel::onUpdateTimerTimeout()
{
    m_ring.drain([this](int key) {
        // Cleared before the repaint: a report made after this point queues
        // the key again, one made before is shown by this repaint.
        m_pending[key].exchange(false, std::memory_order_acq_rel);
        emitKeyChanged(key);
    });
}

void ZelManagerOperationModel::emitKeyChanged(int key)
{
    const int row = key < m_keyRow.size() ? m_keyRow.at(key) : -1;
    if (row >= 0)
        emit dataChanged(index(row), index(row));
}
