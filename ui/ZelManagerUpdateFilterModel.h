#ifndef ZELMANAGERUPDATEFILTERMODEL_H
#define ZELMANAGERUPDATEFILTERMODEL_H

#include <QSortFilterProxyModel>

class ZelManagerDatabase;

// The upgradable packages of a package list, by name.
class ZelManagerUpdateFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit ZelManagerUpdateFilterModel(QObject *parent = nullptr);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    ZelManagerDatabase *m_database;
};

#endif // ZELMANAGERUPDATEFILTERMODEL_H
