#include "ZelManagerPackageFilterModel.h"

#include "ZelManagerDatabase.h"
#include "ZelManagerPackageModel.h"

ZelManagerPackageFilterModel::ZelManagerPackageFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    setDynamicSortFilter(false);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, this,
        &ZelManagerPackageFilterModel::onPackagesRequestsChanged);
}

void ZelManagerPackageFilterModel::setSourceModel(QAbstractItemModel *model)
{
    m_packages = qobject_cast<ZelManagerPackageModel *>(model);
    QSortFilterProxyModel::setSourceModel(model);
}

void ZelManagerPackageFilterModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    invalidateFilter();
}

void ZelManagerPackageFilterModel::setCategories(const QStringList &levels)
{
    if (levels == m_categories)
        return;
    m_categories = levels;
    invalidate();
}

void ZelManagerPackageFilterModel::setShowFilter(int filter)
{
    if (filter == m_showFilter)
        return;
    m_showFilter = filter;
    invalidate();
}

void ZelManagerPackageFilterModel::setSortMode(int mode)
{
    if (mode == m_sortMode)
        return;
    m_sortMode = mode;
    sort(0, Qt::AscendingOrder);
}

void ZelManagerPackageFilterModel::onPackagesRequestsChanged()
{
    invalidate();
}

// Any other source than the package model is read through the edit role and
// the database.
ZelManagerPackage ZelManagerPackageFilterModel::packageAt(int sourceRow) const
{
    if (m_packages)
        return m_packages->package(sourceRow);
    return m_database->package(nameAt(sourceRow));
}

QString ZelManagerPackageFilterModel::nameAt(int sourceRow) const
{
    if (m_packages)
        return m_packages->name(sourceRow);
    return sourceModel()->index(sourceRow, 0).data(Qt::EditRole).toString();
}

bool ZelManagerPackageFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    const ZelManagerPackage package = packageAt(sourceRow);
    if (package.isNull() || !package.matches(m_searchText, m_showFilter))
        return false;
    return matchesCategories(package);
}

// Only the first category of a package places it in the tree.
bool ZelManagerPackageFilterModel::matchesCategories(const ZelManagerPackage &package) const
{
    if (m_categories.isEmpty())
        return true;
    const QStringList categories = package.categories();
    if (categories.isEmpty())
        return true;
    const QStringList levels = categories.first().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (levels.size() < m_categories.size())
        return false;
    for (int i = 0; i < m_categories.size(); ++i) {
        if (levels.at(i) != m_categories.at(i))
            return false;
    }
    return true;
}

bool ZelManagerPackageFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    switch (m_sortMode) {
    case SortByName:
        return nameAt(left.row()) < nameAt(right.row());
    case SortByDate:
        return packageAt(left.row()).availableTime() > packageAt(right.row()).availableTime();
    case SortByStatus:
        return packageAt(left.row()).flags() > packageAt(right.row()).flags();
    default:
        return left.row() < right.row();
    }
}
