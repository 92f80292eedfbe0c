#ifndef ZELMANAGERCATEGORYMODEL_H
#define ZELMANAGERCATEGORYMODEL_H

#include <QAbstractListModel>
#include <QStringList>

class ZelManagerDatabase;

// One level of the category tree of every installed and offered package.
// Rows: first, below the top, an empty go-back row; then the names of the
// level in string order, a name with deeper levels followed by " >".
class ZelManagerCategoryModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ZelManagerCategoryModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Display: the translated level (and " >"); edit: the level as stored
    // (and " >"), the empty string for the go-back row.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Shows the level below levels (the top when empty).
    void setPath(const QStringList &levels);
    QStringList path() const { return m_path; }

public slots:
    // Stays on the deepest level of the current path that still has entries.
    void onPackagesChanged();

private:
    ZelManagerDatabase *m_database;
    QStringList m_entries;
    QStringList m_path;
};

#endif // ZELMANAGERCATEGORYMODEL_H
