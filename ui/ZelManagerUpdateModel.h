#ifndef ZELMANAGERUPDATEMODEL_H
#define ZELMANAGERUPDATEMODEL_H

#include "database/ZelManagerRepositoryUpdater.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QUrl>

class ZelManagerSettings;

// The repository updaters of one check for updates, one row each in order
// of arrival; a row leaves when its updater finishes. When the last one
// finishes the model says finished() and empties itself. The model owns the
// updaters it took and deletes them once they have finished.
class ZelManagerUpdateModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ZelManagerUpdateModel(QObject *parent = nullptr);
    ~ZelManagerUpdateModel() override;

    // Takes updater for url; an updater for a URL already in the list is
    // deleted (later) instead.
    void addUpdater(const QUrl &url, ZelManagerRepositoryUpdater *updater);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Edit role: the row's updater (ZelManagerRepositoryUpdater *).
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // The updaters not yet finished.
    int count() const { return m_updaters.size(); }
    QUrl url(int row) const { return m_urls.value(row); }

signals:
    void finished();

public slots:
    void onUpdaterChanged();
    void onUpdaterFinished();

private:
    int m_running = 0;
    QList<QUrl> m_urls;
    ZelManagerSettings *m_settings;
    QHash<QUrl, ZelManagerRepositoryUpdater *> m_updaters;
};

#endif // ZELMANAGERUPDATEMODEL_H
