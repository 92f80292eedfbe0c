#ifndef ZELMANAGERPACKAGEMODEL_H
#define ZELMANAGERPACKAGEMODEL_H

#include "database/ZelManagerPackage.h"

#include <QAbstractListModel>
#include <QHash>
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
    int rowOf(const QString &name) const { return m_rowOf.value(name, -1); }

public slots:
    void onPackagesChanged();
    void onPackageRequestsChanged();

private:
    ZelManagerDatabase *m_database;
    QStringList m_names;
    QVector<ZelManagerPackage> m_records;
    QHash<QString, int> m_rowOf;
    // Rows that showed a request at the last request change: a cancelled
    // request needs a repaint as much as a new one.
    QSet<int> m_requestedRows;
};

#endif // ZELMANAGERPACKAGEMODEL_H
