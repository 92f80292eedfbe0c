#include "ui/ZelManagerPackageModel.h"

#include "database/ZelManagerDatabase.h"

#include <algorithm>
#include <utility>
#include <vector>

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

int ZelManagerPackageModel::rowOf(const QString &name) const
{
    const auto found = std::lower_bound(m_names.cbegin(), m_names.cend(), name);
    return found != m_names.cend() && *found == name ? int(found - m_names.cbegin()) : -1;
}

// Records are filled in place by a reload: while no name came or went, the
// rows hold the right records already.
void ZelManagerPackageModel::onPackagesChanged()
{
    beginResetModel();
    if (!m_hasNames || m_namesRead != m_database->packageNamesChanges()
        || m_names.size() != m_database->packages().size())
        readNames();
    m_requestedRows.clear();
    for (int row = 0; row < m_records.size(); ++row) {
        if (m_records.at(row).isRequested())
            m_requestedRows.insert(row);
    }
    endResetModel();
}

void ZelManagerPackageModel::readNames()
{
    const QHash<QString, ZelManagerPackage> packages = m_database->packages();
    std::vector<std::pair<QString, ZelManagerPackage>> sorted;
    sorted.reserve(size_t(packages.size()));
    for (auto package = packages.cbegin(); package != packages.cend(); ++package)
        sorted.emplace_back(package.key(), package.value());
    std::sort(sorted.begin(), sorted.end(),
        [](const std::pair<QString, ZelManagerPackage> &left, const std::pair<QString, ZelManagerPackage> &right) {
            return left.first < right.first;
        });
    m_names.clear();
    m_names.reserve(int(sorted.size()));
    m_records.resize(int(sorted.size()));
    for (size_t row = 0; row < sorted.size(); ++row) {
        m_names.append(std::move(sorted[row].first));
        m_records[int(row)] = std::move(sorted[row].second);
    }
    m_namesRead = m_database->packageNamesChanges();
    m_hasNames = true;
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
