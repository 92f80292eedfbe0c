#ifndef ZELMANAGERREPOSITORYMODEL_H
#define ZELMANAGERREPOSITORYMODEL_H

#include <QAbstractListModel>
#include <QList>
#include <QUrl>

class ZelManagerSettings;

// The repositories of the settings store in URL order, followed by one "add"
// row through which the preferences create a repository.
class ZelManagerRepositoryModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum { UrlRole = Qt::UserRole };

    explicit ZelManagerRepositoryModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Display: the label; edit: whether the repository is enabled; UrlRole:
    // the URL as text. The add row has no data.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // The add row can be clicked but not selected.
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The URL of a row; empty for the add row.
    QUrl url(int row) const { return m_urls.value(row); }
    bool isAddRow(int row) const { return row == m_urls.size(); }

public slots:
    void onRepositoryCleared();
    void onRepositoryAdded(const QUrl &url);
    void onRepositoryRemoved(const QUrl &url);
    void onRepositoryChanged(const QUrl &url);

private:
    ZelManagerSettings *m_settings;
    QList<QUrl> m_urls;
};

#endif // ZELMANAGERREPOSITORYMODEL_H
