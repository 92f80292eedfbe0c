#include "ui/ZelManagerRepositoryModel.h"

#include "settings/ZelManagerSettings.h"

#include <algorithm>

ZelManagerRepositoryModel::ZelManagerRepositoryModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_settings(ZelManagerSettings::instance())
{
    connect(m_settings, &ZelManagerSettings::repositoryCleared, this, &ZelManagerRepositoryModel::onRepositoryCleared);
    connect(m_settings, &ZelManagerSettings::repositoryAdded, this, &ZelManagerRepositoryModel::onRepositoryAdded);
    connect(m_settings, &ZelManagerSettings::repositoryRemoved, this, &ZelManagerRepositoryModel::onRepositoryRemoved);
    connect(m_settings, &ZelManagerSettings::repositoryChanged, this, &ZelManagerRepositoryModel::onRepositoryChanged);
    m_urls = m_settings->repositories();
    std::sort(m_urls.begin(), m_urls.end());
}

int ZelManagerRepositoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_urls.size() + 1;
}

QVariant ZelManagerRepositoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_urls.size())
        return QVariant();
    const QUrl &url = m_urls.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return m_settings->repositoryLabel(url);
    case Qt::EditRole:
        return m_settings->isRepositoryEnabled(url);
    case UrlRole:
        return url.toString();
    default:
        return QVariant();
    }
}

Qt::ItemFlags ZelManagerRepositoryModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (isAddRow(index.row()))
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void ZelManagerRepositoryModel::onRepositoryCleared()
{
    beginResetModel();
    m_urls.clear();
    endResetModel();
}

void ZelManagerRepositoryModel::onRepositoryAdded(const QUrl &url)
{
    const auto position = std::lower_bound(m_urls.begin(), m_urls.end(), url);
    const int row = int(position - m_urls.begin());
    if (position != m_urls.end() && *position == url) {
        emit dataChanged(index(row), index(row));
        return;
    }
    beginInsertRows(QModelIndex(), row, row);
    m_urls.insert(row, url);
    endInsertRows();
}

void ZelManagerRepositoryModel::onRepositoryRemoved(const QUrl &url)
{
    const int row = m_urls.indexOf(url);
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_urls.removeAt(row);
    endRemoveRows();
}

void ZelManagerRepositoryModel::onRepositoryChanged(const QUrl &url)
{
    const int row = m_urls.indexOf(url);
    if (row >= 0)
        emit dataChanged(index(row), index(row));
}
