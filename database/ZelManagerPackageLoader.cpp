#include "database/ZelManagerPackageLoader.h"

#include "database/ZelManagerSqlStatement.h"

namespace {

QStringList splitList(const ZelManagerSqlStatement &query, int column)
{
    int size = 0;
    query.utf8(column, size);
    if (size == 0)
        return QStringList();
    return query.text(column).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

} // namespace

ZelManagerPackageLoader::ZelManagerPackageLoader(
    sqlite3 *statusDb, const QList<Repository> &repositories, const QString &architecture)
    : m_statusDb(statusDb)
    , m_repositories(repositories)
    , m_architecture(architecture)
{
    for (const Repository &repository : repositories)
        m_repositoryUrls.append(repository.url.toString());
}

// Names are nearly always ASCII: those are widened into the reused key
// without allocating. The tables list a name's rows together and the names
// in much the same order everywhere, so the name of the previous row or the
// one numbered after it nearly always matches, which spares the hash lookup.
int ZelManagerPackageLoader::idOf(const ZelManagerSqlStatement &query, int column, bool add)
{
    int size = 0;
    const char *data = query.utf8(column, size);
    bool ascii = true;
    for (int i = 0; i < size && ascii; ++i)
        ascii = uchar(data[i]) < 0x80;
    if (ascii) {
        m_key.resize(size);
        QChar *out = m_key.data();
        for (int i = 0; i < size; ++i)
            out[i] = QLatin1Char(data[i]);
    } else {
        m_key = QString::fromUtf8(data, size);
    }
    for (int guess : { m_lastId, m_lastId + 1 }) {
        if (guess >= 0 && guess < int(m_entries.size()) && m_entries[guess].name == m_key)
            return m_lastId = guess;
    }
    const auto found = m_ids.constFind(m_key);
    if (found != m_ids.constEnd())
        return m_lastId = *found;
    if (!add)
        return -1;
    const int id = int(m_entries.size());
    m_entries.emplace_back();
    m_entries.back().name = QString(m_key.constData(), m_key.size());
    m_ids.insert(m_entries.back().name, id);
    return m_lastId = id;
}

void ZelManagerPackageLoader::reserve(int names)
{
    m_entries.reserve(size_t(names));
    m_ids.reserve(names);
    m_statusRows.reserve(names);
}

void ZelManagerPackageLoader::readStatus()
{
    m_statusRows.clear();
    ZelManagerSqlStatement query(m_statusDb, "SELECT package,status,requested,dependant FROM status;");
    while (query.next()) {
        const int id = idOf(query, 0, true);
        Entry &entry = m_entries[id];
        if (entry.hasStatus)
            continue;
        entry.hasStatus = true;
        m_statusRows.append({ entry.name, int(query.int64(1)), splitList(query, 2), splitList(query, 3), id });
    }
}

void ZelManagerPackageLoader::setStatusRows(QVector<StatusRow> rows)
{
    for (Entry &entry : m_entries)
        entry.hasStatus = false;
    for (const StatusRow &row : qAsConst(rows))
        m_entries[row.id].hasStatus = true;
    m_statusRows = std::move(rows);
}

bool ZelManagerPackageLoader::hasStatusRow(const QString &name) const
{
    const auto found = m_ids.constFind(name);
    return found != m_ids.constEnd() && m_entries.at(*found).hasStatus;
}

void ZelManagerPackageLoader::readInstalled()
{
    ZelManagerSqlStatement query(m_statusDb, "SELECT name,time,version,repository,maintainer,description FROM infos;");
    while (query.next()) {
        const int id = idOf(query, 0, true);
        Entry &entry = m_entries[id];
        if (entry.installed)
            continue;
        entry.installed = true;
        m_installedOrder.append(id);
        entry.installedVersion = { query.text(2), query.int64(1), -1 };
        entry.installedRepository = query.text(3);
        entry.installedMaintainer = query.text(4);
        entry.installedDescription = query.text(5);
    }
    // Only a status row's categories are ever shown.
    ZelManagerSqlStatement categories(m_statusDb, "SELECT category,package FROM categories;");
    while (categories.next()) {
        const int id = idOf(categories, 1, false);
        if (id >= 0)
            m_entries[id].installedCategories.append(categories.text(0));
    }
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
    for (int index = 0; index < m_repositories.size(); ++index) {
        ZelManagerSqlStatement query(
            m_repositories.at(index).db, "SELECT package,version,time FROM filenames WHERE architecture=?;");
        query.bind(1, m_architecture);
        while (query.next()) {
            const int id = idOf(query, 0, true);
            Entry &entry = m_entries[id];
            const Version offer { query.text(1), query.int64(2), index };
            if (entry.newest.repository < 0) {
                m_offeredOrder.append(id);
                entry.newest = offer;
            } else if (isNewer(offer, entry.newest)) {
                entry.newest = offer;
            }
            if (!entry.versions.contains(offer.version))
                entry.versions.append(offer.version);
        }
    }
}

QVector<int> ZelManagerPackageLoader::unrecordedIds() const
{
    QVector<int> ids;
    QVector<bool> taken(int(m_entries.size()), false);
    for (const QVector<int> *order : { &m_offeredOrder, &m_installedOrder }) {
        for (int id : *order) {
            if (!m_entries.at(id).hasStatus && !taken.at(id)) {
                taken[id] = true;
                ids.append(id);
            }
        }
    }
    return ids;
}

// Only what a record will show is kept: the rows of packages whose newest
// offer comes from that repository.
void ZelManagerPackageLoader::readRepositoryInfos()
{
    for (Entry &entry : m_entries) {
        entry.hasOfferedInfo = false;
        entry.maintainer.clear();
        entry.description.clear();
        entry.categories.clear();
    }
    for (int index = 0; index < m_repositories.size(); ++index) {
        sqlite3 *db = m_repositories.at(index).db;
        ZelManagerSqlStatement query(db, "SELECT name,maintainer,description FROM infos;");
        while (query.next()) {
            const int id = idOf(query, 0, false);
            if (id < 0)
                continue;
            Entry &entry = m_entries[id];
            if (entry.newest.repository != index || entry.hasOfferedInfo)
                continue;
            entry.hasOfferedInfo = true;
            entry.maintainer = query.text(1);
            entry.description = query.text(2);
        }
        ZelManagerSqlStatement categories(db, "SELECT category,package FROM categories;");
        while (categories.next()) {
            const int id = idOf(categories, 1, false);
            if (id >= 0 && m_entries.at(id).newest.repository == index)
                m_entries[id].categories.append(categories.text(0));
        }
    }
}

// An installed package shows what it was installed with until a repository
// offers it; then the newest offer's repository, maintainer, description and
// categories take over.
void ZelManagerPackageLoader::fill(ZelManagerPackage &record, const StatusRow &row) const
{
    record.clearForLoad();
    record.setStoredState(row.flags, row.requestedBy, row.dependants);
    const Entry &entry = m_entries.at(row.id);
    if (row.flags & ZelManagerPackage::FlagInstalled) {
        record.setInstalledData(entry.installedVersion.version, entry.installedVersion.time, entry.installedRepository,
            entry.installedMaintainer, entry.installedDescription, entry.installedCategories);
    }
    if (entry.newest.repository < 0)
        return;
    record.setAvailableVersions(entry.versions);
    record.setAvailableData(entry.newest.version, entry.newest.time, m_repositoryUrls.at(entry.newest.repository),
        entry.maintainer, entry.description, entry.categories);
}
