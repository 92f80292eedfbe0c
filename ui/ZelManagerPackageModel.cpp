#include "ui/ZelManagerPackageModel.h"

#include "database/ZelManagerDatabase.h"

#include <algorithm>

ZelManagerPackageModel::ZelManagerPackageModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    connect(m_database, &ZelManagerDatabase::packagesChanged, this, &ZelManagerPackageModel::onPackagesChanged);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, this,
        &ZelManagerPackageModel::onPackageRequestsChanged);
    onPackagesChanged();
}

int ZelManagerPackageModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_names.size();
}

QVariant ZelManagerPackageModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_names.size())
        return QVariant();
    return m_names.at(index.row());
}

const QString &ZelManagerPackageModel::name(int row) const
{
    static const QString none;
    return row >= 0 && row < m_names.size() ? m_names.at(row) : none;
}

const ZelManagerPackage &ZelManagerPackageModel::package(int row) const
{
    static const ZelManagerPackage none;
    return row >= 0 && row < m_records.size() ? m_records.at(row) : none;
}

void ZelManagerPackageModel::updateName(const QString &name)
{
    const int row = rowOf(name);
    if (row >= 0)
        emit dataChanged(index(row), index(row));
}

void ZelManagerPackageModel::onPackagesChanged()
{
    beginResetModel();
    const QHash<QString, ZelManagerPackage> packages = m_database->packages();
    m_names = packages.keys();
    std::sort(m_names.begin(), m_names.end());
    m_records.resize(m_names.size());
    m_rowOf.clear();
    m_rowOf.reserve(m_names.size());
    m_requestedRows.clear();
    for (int row = 0; row < m_names.size(); ++row) {
        m_records[row] = packages.value(m_names.at(row));
        m_rowOf.insert(m_names.at(row), row);
        if (m_records.at(row).isRequested())
            m_requestedRows.insert(row);
    }
    endResetModel();
}

void ZelManagerPackageModel::onPackageRequestsChanged()
{
    QSet<int> requested;
    for (int row = 0; row < m_records.size(); ++row) {
        if (m_records.at(row).isRequested())
            requested.insert(row);
    }
    const QSet<int> changed = requested + m_requestedRows;
    m_requestedRows = requested;
    for (int row : changed)
        emit dataChanged(index(row), index(row));
}
