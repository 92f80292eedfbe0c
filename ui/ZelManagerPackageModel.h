#ifndef ZELMANAGERPACKAGEMODEL_H
#define ZELMANAGERPACKAGEMODEL_H

#include "database/ZelManagerPackage.h"

#include <QAbstractListModel>
#include <QSet>
#include <QStringList>
#include <QVector>

class ZelManagerDatabase;

// Every package the database knows, one row per name in string order. The
// edit role gives the name; views fetch the record by it.
class ZelManagerPackageModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ZelManagerPackageModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Repaints the row of name.
    void updateName(const QString &name);

    // Direct access for the proxies, which compare tens of thousands of rows
    // (no copies). Empty values for a row out of range.
    const QString &name(int row) const;
    // The database's record of a row, as of the last reload.
    const ZelManagerPackage &package(int row) const;
    // -1 for a name not shown.
    int rowOf(const QString &name) const;

public slots:
    void onPackagesChanged();
    void onPackageRequestsChanged();

private:
    void readNames();

    ZelManagerDatabase *m_database;
    QStringList m_names;
    QVector<ZelManagerPackage> m_records;
    // The database's count of name changes when the names were read.
    quint64 m_namesRead = 0;
    bool m_hasNames = false;
    // Rows that showed a request at the last request change: a cancelled
    // request needs a repaint as much as a new one.
    QSet<int> m_requestedRows;
};

#endif // ZELMANAGERPACKAGEMODEL_H
