#include "ui/ZelManagerUpdateFilterModel.h"

#include "database/ZelManagerDatabase.h"

ZelManagerUpdateFilterModel::ZelManagerUpdateFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
}

bool ZelManagerUpdateFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QString name = sourceModel()->index(sourceRow, 0, sourceParent).data(Qt::EditRole).toString();
    return m_database->package(name).isUpgradable();
}

bool ZelManagerUpdateFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    return left.data(Qt::EditRole).toString() < right.data(Qt::EditRole).toString();
}
