#include "database/ZelManagerPackageLoader.h"

#include "database/ZelManagerSqlStatement.h"

#include <QSet>

namespace {

QStringList splitList(const QString &text)
{
    return text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

} // namespace

ZelManagerPackageLoader::ZelManagerPackageLoader(
    sqlite3 *statusDb, const QList<Repository> &repositories, const QString &architecture)
    : m_statusDb(statusDb)
    , m_repositories(repositories)
    , m_architecture(architecture)
{
}

void ZelManagerPackageLoader::readStatus()
{
    m_statusRows.clear();
    QSet<QString> seen;
    ZelManagerSqlStatement query(m_statusDb, "SELECT package,status,requested,dependant FROM status;");
    while (query.next()) {
        const QString name = query.text(0);
        if (seen.contains(name))
            continue;
        seen.insert(name);
        m_statusRows.append({ name, int(query.int64(1)), splitList(query.text(2)), splitList(query.text(3)) });
    }
}

void ZelManagerPackageLoader::readInstalled()
{
    m_installed.clear();
    m_installedNames.clear();
    ZelManagerSqlStatement query(m_statusDb, "SELECT name,time,version,repository,maintainer,description FROM infos;");
    while (query.next()) {
        const QString name = query.text(0);
        if (m_installed.contains(name))
            continue;
        m_installedNames.append(name);
        m_installed.insert(
            name, { { query.text(2), query.int64(1), -1 }, query.text(3), query.text(4), query.text(5) });
    }
    m_installedCategories = readCategories(m_statusDb, -1);
}

ZelManagerPackageLoader::Version ZelManagerPackageLoader::installed(const QString &name) const
{
    return m_installed.value(name).version;
}

bool ZelManagerPackageLoader::isNewer(const Version &candidate, const Version &current)
{
    if (current.repository < 0)
        return true;
    const int order = compareVersions(candidate.version, current.version);
    return order > 0 || (order == 0 && candidate.time > current.time);
}

void ZelManagerPackageLoader::readOffers()
{
    m_versions.clear();
    m_newest.clear();
    m_offeredNames.clear();
    for (int index = 0; index < m_repositories.size(); ++index) {
        ZelManagerSqlStatement query(
            m_repositories.at(index).db, "SELECT package,version,time FROM filenames WHERE architecture=?;");
        query.bind(1, m_architecture);
        while (query.next()) {
            const QString name = query.text(0);
            const Version offer { query.text(1), query.int64(2), index };
            auto newest = m_newest.find(name);
            if (newest == m_newest.end()) {
                m_offeredNames.append(name);
                m_newest.insert(name, offer);
            } else if (isNewer(offer, *newest)) {
                *newest = offer;
            }
            QStringList &versions = m_versions[name];
            if (!versions.contains(offer.version))
                versions.append(offer.version);
        }
    }
}

QHash<QString, QStringList> ZelManagerPackageLoader::readCategories(sqlite3 *db, int repository) const
{
    QHash<QString, QStringList> categories;
    ZelManagerSqlStatement query(db, "SELECT category,package FROM categories;");
    while (query.next()) {
        const QString name = query.text(1);
        if (repository < 0 || isNewestIn(name, repository))
            categories[name].append(query.text(0));
    }
    return categories;
}

bool ZelManagerPackageLoader::isNewestIn(const QString &name, int repository) const
{
    const auto newest = m_newest.constFind(name);
    return newest != m_newest.constEnd() && newest->repository == repository;
}

// Only what a record will show is kept: the rows of packages whose newest
// offer comes from that repository.
void ZelManagerPackageLoader::readRepositoryInfos()
{
    m_repositoryInfos.clear();
    for (int index = 0; index < m_repositories.size(); ++index) {
        RepositoryInfos infos;
        sqlite3 *db = m_repositories.at(index).db;
        ZelManagerSqlStatement query(db, "SELECT name,maintainer,description FROM infos;");
        while (query.next()) {
            const QString name = query.text(0);
            if (isNewestIn(name, index) && !infos.infos.contains(name))
                infos.infos.insert(name, { query.text(1), query.text(2) });
        }
        infos.categories = readCategories(db, index);
        m_repositoryInfos.append(infos);
    }
}

// An installed package shows what it was installed with until a repository
// offers it; then the newest offer's repository, maintainer, description and
// categories take over.
void ZelManagerPackageLoader::fill(ZelManagerPackage &record, const StatusRow &row) const
{
    record.clearForLoad();
    record.setStoredState(row.flags, row.requestedBy, row.dependants);
    if (row.flags & ZelManagerPackage::FlagInstalled) {
        const InstalledRow installed = m_installed.value(row.name);
        record.setInstalledData(installed.version.version, installed.version.time, installed.repository,
            installed.maintainer, installed.description, m_installedCategories.value(row.name));
    }
    const auto versions = m_versions.constFind(row.name);
    if (versions == m_versions.constEnd())
        return;
    record.setAvailableVersions(*versions);
    const Version newest = m_newest.value(row.name);
    const RepositoryInfos *infos
        = newest.repository < m_repositoryInfos.size() ? &m_repositoryInfos.at(newest.repository) : nullptr;
    const QPair<QString, QString> info = infos ? infos->infos.value(row.name) : QPair<QString, QString>();
    record.setAvailableData(newest.version, newest.time, m_repositories.at(newest.repository).url.toString(),
        info.first, info.second, infos ? infos->categories.value(row.name) : QStringList());
}
