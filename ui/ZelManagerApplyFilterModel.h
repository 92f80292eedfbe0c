#ifndef ZELMANAGERAPPLYFILTERMODEL_H
#define ZELMANAGERAPPLYFILTERMODEL_H

#include <QSortFilterProxyModel>

class ZelManagerDatabase;

// The apply list: the operation model's rows ordered by how far their work
// has come. Finished work first, then failures, running work, and waiting
// packages last; equal ranks by name.
class ZelManagerApplyFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit ZelManagerApplyFilterModel(QObject *parent = nullptr);

    // The place of an operation status in the list (0 first).
    static int statusRank(int status);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    ZelManagerDatabase *m_database;
};

#endif // ZELMANAGERAPPLYFILTERMODEL_H
