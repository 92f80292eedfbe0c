#include "ui/ZelManagerUpdateModel.h"

#include "settings/ZelManagerSettings.h"

ZelManagerUpdateModel::ZelManagerUpdateModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_settings(ZelManagerSettings::instance())
{
    qRegisterMetaType<ZelManagerRepositoryUpdater *>();
}

// Updaters still running go with the model: their downloads are dropped and
// their imports roll back.
ZelManagerUpdateModel::~ZelManagerUpdateModel()
{
    qDeleteAll(m_updaters);
}

void ZelManagerUpdateModel::addUpdater(const QUrl &url, ZelManagerRepositoryUpdater *updater)
{
    if (!updater || m_updaters.value(url) == updater)
        return;
    if (m_updaters.contains(url)) {
        updater->deleteLater();
        return;
    }
    ++m_running;
    beginInsertRows(QModelIndex(), m_urls.size(), m_urls.size());
    m_urls.append(url);
    m_updaters.insert(url, updater);
    endInsertRows();
    connect(updater, &ZelManagerRepositoryUpdater::finished, this, &ZelManagerUpdateModel::onUpdaterFinished);
    connect(updater, QOverload<int>::of(&ZelManagerRepositoryUpdater::progress), this,
        &ZelManagerUpdateModel::onUpdaterChanged);
    connect(updater, &ZelManagerRepositoryUpdater::workChanged, this, &ZelManagerUpdateModel::onUpdaterChanged);
}

int ZelManagerUpdateModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_urls.size();
}

QVariant ZelManagerUpdateModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_urls.size())
        return QVariant();
    return QVariant::fromValue(m_updaters.value(m_urls.at(index.row())));
}

// Rows are found by the updater itself, not by the URL it reports: the two
// can differ in spelling (a trailing "/", say).
void ZelManagerUpdateModel::onUpdaterChanged()
{
    auto updater = qobject_cast<ZelManagerRepositoryUpdater *>(sender());
    const int row = updater ? m_urls.indexOf(m_updaters.key(updater)) : -1;
    if (row >= 0)
        emit dataChanged(index(row), index(row));
}

void ZelManagerUpdateModel::onUpdaterFinished()
{
    auto updater = qobject_cast<ZelManagerRepositoryUpdater *>(sender());
    if (!updater)
        return;
    const QUrl url = m_updaters.key(updater);
    if (url.isEmpty())
        return;
    --m_running;
    if (m_running <= 0) {
        // Emptied before the signal, so that a check started from it begins
        // with an empty list and keeps its updaters.
        beginResetModel();
        m_urls.clear();
        m_updaters.clear();
        m_running = 0;
        endResetModel();
        emit finished();
    } else {
        const int row = m_urls.indexOf(url);
        beginRemoveRows(QModelIndex(), row, row);
        m_urls.removeAt(row);
        m_updaters.remove(url);
        endRemoveRows();
    }
    updater->deleteLater();
}
