#include "ui/ZelManagerApplyFilterModel.h"

#include "database/ZelManagerDatabase.h"

ZelManagerApplyFilterModel::ZelManagerApplyFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
}

int ZelManagerApplyFilterModel::statusRank(int status)
{
    switch (status) {
    case ZelManagerPackage::Removed:
    case ZelManagerPackage::Finished:
        return 0;
    case ZelManagerPackage::Error:
        return 1;
    case ZelManagerPackage::Canceling:
        return 2;
    case ZelManagerPackage::Removing:
        return 3;
    case ZelManagerPackage::Upgrading:
    case ZelManagerPackage::Installing:
    case ZelManagerPackage::Reinstalling:
        return 4;
    case ZelManagerPackage::Parsing:
        return 5;
    case ZelManagerPackage::Downloading:
        return 6;
    case ZelManagerPackage::Downloaded:
        return 7;
    default:
        return 8;
    }
}

bool ZelManagerApplyFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QString leftName = left.data(Qt::EditRole).toString();
    const QString rightName = right.data(Qt::EditRole).toString();
    const int leftRank = statusRank(m_database->package(leftName).status());
    const int rightRank = statusRank(m_database->package(rightName).status());
    if (leftRank != rightRank)
        return leftRank < rightRank;
    return leftName < rightName;
}
