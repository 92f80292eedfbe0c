#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"

#include "database/ZelManagerPackageLoader.h"
#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"
#include "settings/ZelManagerSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSet>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>

ZelManagerDatabase *ZelManagerDatabase::s_instance = nullptr;
QNetworkAccessManager *ZelManagerDatabase::s_networkAccessManager = nullptr;

namespace {

struct Table
{
    const char *name;
    const char *create;
};

// The table texts are part of the file format: older and newer programs
// read the same files.
const Table StatusTables[] = {
    { "status", "create table status(package varchar(256),status int,requested varchar(256),dependant varchar(256));" },
    { "infos",
        "create table infos(name varchar(256),time bigint,md5sum varchar(33),version varchar(128),"
        "maintainer varchar(128),repository varchar(512),description varchar(4096),prermscript varchar(4096),"
        "postrmscript varchar(4096),preinstscript varchar(4096),postinstscript varchar(4096));" },
    { "categories", "create table categories(category varchar(512),package varchar(256));" },
    { "dependencies",
        "create table dependencies(package varchar(256),dependency varchar(256),comparision varchar(256));" },
    { "fileentries", "create table fileentries(nofix int,package varchar(256),entry varchar(512));" },
    { "errors", "create table errors(time bigint,package varchar(256),requested int,description varchar(4096));" },
    // The packages whose installation or removal is under way.
    { "journal", "create table journal(package varchar(256),operation int,phase int,info text);" },
    { "journalfiles", "create table journalfiles(package varchar(256),kind int,entry varchar(512));" },
};

const Table RepositoryTables[] = {
    { "infos", "create table infos(name varchar(256),maintainer varchar(128),description varchar(4096));" },
    { "filenames",
        "create table filenames(package varchar(256),version varchar(256),architecture varchar(6),time bigint,"
        "md5sum varchar(33));" },
    { "categories", "create table categories(category varchar(512),package varchar(256));" },
    { "dependencies",
        "create table dependencies(architecture varchar(6),package varchar(256),version varchar(256),"
        "dependency varchar(256),comparision varchar(256));" },
};

// Lookup indexes: without them every per-package query scans a whole table.
// They change nothing that older programs read.
const char StatusIndexes[]
    = "create index if not exists status_package on status(package);"
      "create index if not exists infos_name on infos(name);"
      "create index if not exists categories_package on categories(package);"
      "create index if not exists dependencies_package on dependencies(package);"
      "create index if not exists dependencies_dependency on dependencies(dependency);"
      "create index if not exists fileentries_package on fileentries(package);"
      "create index if not exists fileentries_entry on fileentries(entry);"
      "create index if not exists fileentries_entry_nocase on fileentries(entry collate nocase);";

const char RepositoryIndexes[]
    = "create index if not exists infos_name on infos(name);"
      "create index if not exists filenames_package on filenames(package,architecture);"
      "create index if not exists categories_package on categories(package);"
      "create index if not exists dependencies_package on dependencies(package,architecture);"
      "create index if not exists dependencies_dependency on dependencies(dependency,architecture);";

template <size_t Count> bool createTables(sqlite3 *db, const Table (&tables)[Count], const char *indexes)
{
    ZelManagerSql::exec(db, "begin transaction;");
    for (const Table &table : tables) {
        if (!ZelManagerSql::hasTable(db, table.name))
            ZelManagerSql::exec(db, table.create);
    }
    ZelManagerSql::exec(db, indexes);
    ZelManagerSql::exec(db, "end transaction;");
    return std::all_of(std::begin(tables), std::end(tables),
        [db](const Table &table) { return ZelManagerSql::hasTable(db, table.name); });
}

QString canonicalArchitecture(const QString &architecture)
{
    if (architecture == QLatin1String("i386"))
        return QStringLiteral("win32");
    if (architecture == QLatin1String("amd64"))
        return QStringLiteral("win64");
    return architecture;
}

QString dependencyItem(const QString &name, const QString &comparison)
{
    return comparison.isEmpty() ? name : name + QLatin1Char(' ') + comparison;
}

void appendUnique(QStringList &list, const QString &value)
{
    if (!list.contains(value))
        list.append(value);
}

// Package states from what is installed and what is offered; the request,
// automatic, bookmark and broken bits stay as stored.
int recomputedFlags(int flags, const ZelManagerPackageLoader &loader, int id)
{
    flags &= ~ZelManagerPackage::FlagUpgradable;
    const bool installed = loader.isInstalled(id);
    const ZelManagerPackageLoader::Version &offered = loader.newestOffer(id);
    if (offered.repository < 0)
        return installed ? (flags & ~0xE) | ZelManagerPackage::FlagInstalled : -1;
    if (!installed)
        return (flags & ~0xE) | ZelManagerPackage::FlagInstallable;
    const ZelManagerPackageLoader::Version &current = loader.installed(id);
    const int order = compareVersions(offered.version, current.version);
    flags |= ZelManagerPackage::FlagInstallable | ZelManagerPackage::FlagInstalled;
    if (order > 0 || (order == 0 && offered.time > current.time))
        flags |= ZelManagerPackage::FlagUpgradable;
    return flags;
}

} // namespace

ZelManagerDatabase *ZelManagerDatabase::instance()
{
    ZelManagerSettings::instance();
    networkAccessManager();
    if (!s_instance)
        s_instance = new ZelManagerDatabase;
    return s_instance;
}

void ZelManagerDatabase::cleanup()
{
    delete s_instance;
    s_instance = nullptr;
    delete s_networkAccessManager;
    s_networkAccessManager = nullptr;
    ZelManagerSettings::cleanup();
}

QNetworkAccessManager *ZelManagerDatabase::networkAccessManager()
{
    if (!s_networkAccessManager)
        s_networkAccessManager = new QNetworkAccessManager;
    return s_networkAccessManager;
}

QString ZelManagerDatabase::repositoryFileName(const QUrl &url)
{
    QString name = url.toString();
    name.replace(QLatin1Char(':'), QLatin1Char('_'));
    name.remove(QStringLiteral("//"));
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name + QStringLiteral(".db");
}

bool ZelManagerDatabase::createStatusTables(sqlite3 *db)
{
    return db && createTables(db, StatusTables, StatusIndexes);
}

bool ZelManagerDatabase::createRepositoryTables(sqlite3 *db)
{
    return db && createTables(db, RepositoryTables, RepositoryIndexes);
}

ZelManagerDatabase::ZelManagerDatabase()
    : m_settings(ZelManagerSettings::instance())
{
    connect(m_settings, &ZelManagerSettings::repositoryAdded, this, &ZelManagerDatabase::onRepositoryAdded);
    connect(m_settings, &ZelManagerSettings::repositoryRemoved, this, &ZelManagerDatabase::onRepositoryRemoved);
    connect(m_settings, &ZelManagerSettings::installPathChanged, this, &ZelManagerDatabase::onInstallPathChanged);
    connect(m_settings, &ZelManagerSettings::architectureChanged, this, &ZelManagerDatabase::onArchitectureChanged);
    onInstallPathChanged(m_settings->installPath());
}

ZelManagerDatabase::~ZelManagerDatabase()
{
    closeRepositories();
    closeStatusDatabase();
    m_packages.clear();
}

QString ZelManagerDatabase::databaseFolder() const
{
    return m_installPath + QStringLiteral("/pkgdb");
}

QString ZelManagerDatabase::repositoryPath(const QUrl &url) const
{
    return databaseFolder() + QLatin1Char('/') + repositoryFileName(url);
}

// A fixed order, so that of two repositories offering the same build the
// same one wins at every load.
QList<QUrl> ZelManagerDatabase::repositoryOrder() const
{
    QList<QUrl> urls = m_repositoryDbs.keys();
    std::sort(urls.begin(), urls.end(), [](const QUrl &a, const QUrl &b) { return a.toString() < b.toString(); });
    return urls;
}

void ZelManagerDatabase::onInstallPathChanged(const QString &path)
{
    closeRepositories();
    m_installPath = path;
    if (!QDir().mkpath(databaseFolder())) {
        // Nothing of the old installation may stay visible under the new path.
        closeStatusDatabase();
        m_packages.clear();
        ++m_packageNamesChanges;
        emit packagesChanged();
        scheduleRequestCount();
        return;
    }
    for (const QUrl &url : m_settings->repositories()) {
        if (m_settings->isRepositoryEnabled(url))
            openRepository(url);
    }
    openStatusDatabase(m_settings->architecture());
}

void ZelManagerDatabase::onArchitectureChanged(const QString &architecture)
{
    openStatusDatabase(architecture);
}

void ZelManagerDatabase::onRepositoryAdded(const QUrl &url)
{
    openRepository(url);
}

void ZelManagerDatabase::onRepositoryRemoved(const QUrl &url)
{
    closeDatabaseFile(m_repositoryDbs.take(url));
    QFile::remove(repositoryPath(url));
}

void ZelManagerDatabase::openRepository(const QUrl &url)
{
    sqlite3 *db = ZelManagerSql::open(repositoryPath(url));
    if (db && !createRepositoryTables(db)) {
        ZelManagerSql::close(db);
        db = nullptr;
    }
    if (!db)
        return;
    closeDatabaseFile(m_repositoryDbs.take(url));
    m_repositoryDbs.insert(url, db);
}

void ZelManagerDatabase::closeRepositories()
{
    for (sqlite3 *db : qAsConst(m_repositoryDbs))
        closeDatabaseFile(db);
    m_repositoryDbs.clear();
}

void ZelManagerDatabase::openStatusDatabase(const QString &architecture)
{
    closeStatusDatabase();
    m_architecture = canonicalArchitecture(architecture);
    m_statusDb = ZelManagerSql::open(databaseFolder() + QLatin1Char('/') + m_architecture + QStringLiteral(".db"));
    // Every finished package is committed on its own: commits must be cheap.
    ZelManagerSql::useWriteAheadLog(m_statusDb);
    if (m_statusDb && !createStatusTables(m_statusDb))
        closeStatusDatabase();
    repairEntryPaths();
    m_packages.clear();
    ++m_packageNamesChanges;
    ZelManagerPackageLoader packageLoader = loader();
    loadPackages(packageLoader);
    emit packagesChanged();
    scheduleRequestCount();
}

// Files recorded by older programs in an untidy form ("lib/./y.dll",
// "lib//y.dll") are stored in the clean form in which the installer now
// records, checks and removes them; otherwise a conflict check would miss
// them. Unsafe paths stay as they are (nothing is ever deleted there).
void ZelManagerDatabase::repairEntryPaths()
{
    ZelManagerSqlStatement untidy(m_statusDb,
        "SELECT rowid,entry FROM fileentries WHERE entry LIKE '%//%' OR entry LIKE '%/./%' OR entry LIKE './%' "
        "OR entry LIKE '%/' OR entry LIKE '%/.';");
    QList<QPair<qint64, QString>> repairs;
    while (untidy.next()) {
        const QString entry = untidy.text(1);
        const QString clean = QDir::cleanPath(entry);
        const bool unsafe = clean.startsWith(QLatin1Char('/')) || clean == QLatin1String(".")
            || clean.split(QLatin1Char('/')).contains(QStringLiteral(".."));
        if (!unsafe && clean != entry)
            repairs.append({ untidy.int64(0), clean });
    }
    if (repairs.isEmpty())
        return;
    inSavepoint("repair_entries", [&] {
        ZelManagerSqlStatement update(m_statusDb, "UPDATE fileentries SET entry=? WHERE rowid=?;");
        for (const auto &repair : qAsConst(repairs)) {
            if (!checkWrite(update.bind(1, repair.second).bind(2, repair.first).exec()))
                return false;
        }
        return true;
    });
}

void ZelManagerDatabase::closeStatusDatabase()
{
    closeDatabaseFile(m_statusDb);
    m_statusDb = nullptr;
}

void ZelManagerDatabase::execEverywhere(const char *statement)
{
    if (m_statusDb)
        ZelManagerSql::exec(m_statusDb, statement);
    for (sqlite3 *db : qAsConst(m_repositoryDbs))
        ZelManagerSql::exec(db, statement);
}

ZelManagerPackageLoader ZelManagerDatabase::loader() const
{
    QList<ZelManagerPackageLoader::Repository> repositories;
    for (const QUrl &url : repositoryOrder())
        repositories.append({ url, m_repositoryDbs.value(url) });
    ZelManagerPackageLoader packageLoader(m_statusDb, repositories, m_architecture);
    packageLoader.reserve(m_packages.size());
    return packageLoader;
}

void ZelManagerDatabase::loadPackages(ZelManagerPackageLoader &packageLoader)
{
    packageLoader.readStatus();
    packageLoader.readInstalled();
    packageLoader.readOffers();
    packageLoader.readRepositoryInfos();
    fillPackages(packageLoader);
}

// Records are kept across reloads (models and workers hold them), and so is
// the table holding them; names that left the "status" table lose theirs.
void ZelManagerDatabase::fillPackages(const ZelManagerPackageLoader &packageLoader)
{
    const QVector<ZelManagerPackageLoader::StatusRow> &rows = packageLoader.statusRows();
    m_packages.reserve(rows.size());
    for (const ZelManagerPackageLoader::StatusRow &row : rows) {
        auto record = m_packages.find(row.name);
        if (record == m_packages.end()) {
            record = m_packages.insert(row.name, ZelManagerPackage(row.name));
            ++m_packageNamesChanges;
        }
        packageLoader.fill(*record, row);
    }
    if (m_packages.size() == rows.size())
        return;
    ++m_packageNamesChanges;
    for (auto record = m_packages.begin(); record != m_packages.end();) {
        if (packageLoader.hasStatusRow(record.key()))
            ++record;
        else
            record = m_packages.erase(record);
    }
}

void ZelManagerDatabase::reloadPackages()
{
    ZelManagerPackageLoader packageLoader = loader();
    loadPackages(packageLoader);
    emit packagesChanged();
}

// Writes only the rows whose flags change; a name neither installed nor
// offered leaves the "status" table, an offered or installed name without a
// row gets one.
int ZelManagerDatabase::refresh()
{
    ZelManagerPackageLoader packageLoader = loader();
    packageLoader.readStatus();
    packageLoader.readInstalled();
    packageLoader.readOffers();
    ZelManagerSqlStatement update(m_statusDb, "UPDATE status SET status=? WHERE package=?;");
    ZelManagerSqlStatement remove(m_statusDb, "DELETE FROM status WHERE package=?;");
    ZelManagerSqlStatement insert(m_statusDb, "INSERT INTO status VALUES(?,?,'','');");
    // The rows the table holds afterwards, kept alongside instead of read
    // again: a row whose change fails stays as it was.
    QVector<ZelManagerPackageLoader::StatusRow> rows;
    rows.reserve(packageLoader.statusRows().size());
    for (const ZelManagerPackageLoader::StatusRow &row : packageLoader.statusRows()) {
        const int flags = recomputedFlags(row.flags, packageLoader, row.id);
        if (flags < 0 && checkWrite(remove.bind(1, row.name).exec()))
            continue;
        rows.append(row);
        if (flags >= 0 && flags != row.flags && checkWrite(update.bind(1, qint64(flags)).bind(2, row.name).exec()))
            rows.last().flags = flags;
    }
    for (int id : packageLoader.unrecordedIds()) {
        const QString name = packageLoader.name(id);
        const int flags = recomputedFlags(0, packageLoader, id);
        if (checkWrite(insert.bind(1, name).bind(2, qint64(flags)).exec()))
            rows.append({ name, flags, QStringList(), QStringList(), id });
    }
    packageLoader.setStatusRows(std::move(rows));
    packageLoader.readRepositoryInfos();
    fillPackages(packageLoader);
    return requestCount();
}

int ZelManagerDatabase::requestCount() const
{
    return int(std::count_if(m_packages.cbegin(), m_packages.cend(),
        [](const ZelManagerPackage &package) { return package.isRequested(); }));
}

void ZelManagerDatabase::scheduleRequestCount()
{
    ++m_pendingRequestUpdates;
    QTimer::singleShot(100, this, &ZelManagerDatabase::delayedUpdatePackageRequests);
}

// Every scheduled shot but the last only counts down, so a burst of changes
// yields one signal 100 ms after its last change.
void ZelManagerDatabase::delayedUpdatePackageRequests()
{
    if (m_pendingRequestUpdates >= 2) {
        --m_pendingRequestUpdates;
        return;
    }
    m_pendingRequestUpdates = 0;
    emit packagesRequestsChanged(requestCount());
}

void ZelManagerDatabase::beginTransaction()
{
    clearErrors();
    m_inTransaction = true;
    execEverywhere("begin transaction;");
}

// A commit that fails leaves SQLite's transaction open; it is rolled back,
// so that the connection does not keep its lock and the next batch starts
// clean.
bool ZelManagerDatabase::endTransaction(bool refresh)
{
    if (!m_inTransaction)
        return true;
    m_inTransaction = false;
    if (refresh) {
        const int requested = this->refresh();
        emit packagesChanged();
        emit packagesRequestsChanged(requested);
    }
    bool ok = true;
    if (m_statusDb) {
        ok = checkWrite(ZelManagerSql::exec(m_statusDb, "end transaction;") == SQLITE_OK);
        if (!ok && !sqlite3_get_autocommit(m_statusDb))
            ZelManagerSql::exec(m_statusDb, "rollback;");
    }
    for (sqlite3 *db : qAsConst(m_repositoryDbs)) {
        if (ZelManagerSql::exec(db, "end transaction;") != SQLITE_OK && !sqlite3_get_autocommit(db))
            ZelManagerSql::exec(db, "rollback;");
    }
    return ok;
}

bool ZelManagerDatabase::commitProgress()
{
    if (!m_inTransaction || !m_statusDb)
        return true;
    return checkWrite(runKept("commit;")) && checkWrite(runKept("begin transaction;"));
}

bool ZelManagerDatabase::checkWrite(bool ok) const
{
    if (!ok) {
        m_writeError
            = m_statusDb ? QString::fromUtf8(sqlite3_errmsg(m_statusDb)) : tr("the package database is not open");
    }
    return ok;
}

// A savepoint nests inside a batch's transaction and is a transaction of its
// own outside one.
bool ZelManagerDatabase::inSavepoint(const char *name, const std::function<bool()> &writes)
{
    const QByteArray savepoint(name);
    const auto run = [this, &savepoint](const char *verb) { return runKept((verb + savepoint + ';').constData()); };
    if (!checkWrite(run("savepoint ")))
        return false;
    if (!writes()) {
        const QString error = m_writeError;
        run("rollback to ");
        run("release ");
        m_writeError = error;
        return false;
    }
    return checkWrite(run("release "));
}

ZelManagerSqlStatement ZelManagerDatabase::keptStatement(const char *sql) const
{
    return keptStatement(m_statusDb, sql);
}

ZelManagerSqlStatement ZelManagerDatabase::keptStatement(sqlite3 *db, const char *sql) const
{
    if (!db)
        return ZelManagerSqlStatement(db, sql);
    QHash<QByteArray, sqlite3_stmt *> &statements = m_keptStatements[db];
    sqlite3_stmt *kept = statements.value(QByteArray::fromRawData(sql, int(qstrlen(sql))));
    if (!kept) {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept, nullptr) != SQLITE_OK) {
            sqlite3_finalize(kept);
            return ZelManagerSqlStatement(db, sql); // logs the failure
        }
        statements.insert(QByteArray(sql), kept);
    }
    if (sqlite3_stmt_busy(kept))
        return ZelManagerSqlStatement(db, sql);
    return ZelManagerSqlStatement(kept, ZelManagerSqlStatement::Kept());
}

// A file with statements left unfinalized would stay open.
void ZelManagerDatabase::closeDatabaseFile(sqlite3 *db)
{
    for (sqlite3_stmt *statement : m_keptStatements.take(db))
        sqlite3_finalize(statement);
    ZelManagerSql::close(db);
}

bool ZelManagerDatabase::runKept(const char *sql) const
{
    return keptStatement(sql).exec();
}

QStringList ZelManagerDatabase::categories() const
{
    QStringList result;
    QSet<QString> seen;
    QList<sqlite3 *> files = m_repositoryDbs.values();
    files.prepend(m_statusDb);
    for (sqlite3 *db : qAsConst(files)) {
        ZelManagerSqlStatement query(db, "SELECT DISTINCT category FROM categories;");
        while (query.next()) {
            const QString category = query.text(0);
            if (!seen.contains(category)) {
                seen.insert(category);
                result.append(category);
            }
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

QList<QPair<QString, QString>> ZelManagerDatabase::fileEntries() const
{
    QList<QPair<QString, QString>> entries;
    ZelManagerSqlStatement query(m_statusDb, "SELECT package,entry FROM fileentries;");
    while (query.next())
        entries.append({ query.text(0), query.text(1) });
    return entries;
}

// One indexed look-up per entry instead of reading every installed file.
// The install tree is a Windows tree: names that differ only in letter case
// are one file there.
QList<QPair<QString, QString>> ZelManagerDatabase::fileConflicts(
    const QString &package, const QStringList &entries) const
{
    QList<QPair<QString, QString>> conflicts;
    ZelManagerSqlStatement query(
        m_statusDb, "SELECT DISTINCT package FROM fileentries WHERE entry=?1 COLLATE NOCASE AND package<>?2;");
    for (const QString &entry : entries) {
        query.bind(1, entry).bind(2, package);
        while (query.next())
            conflicts.append({ entry, query.text(0) });
        query.reset();
    }
    return conflicts;
}

PackageInfo ZelManagerDatabase::packageEntry(const QString &name, const QString &version, bool flag) const
{
    if (flag && (version.isEmpty() || version == package(name).installedVersion()))
        return installedEntry(name);
    return offeredEntry(name, version);
}

PackageInfo ZelManagerDatabase::installedEntry(const QString &name) const
{
    PackageInfo info;
    info.name = name;
    ZelManagerSqlStatement infos = keptStatement("SELECT time,md5sum,version,repository,prermscript,postrmscript,"
                                                 "preinstscript,postinstscript FROM infos WHERE name=?;");
    if (infos.bind(1, name).next()) {
        info.time = infos.int64(0);
        info.md5sum = infos.text(1);
        info.version = infos.text(2);
        info.repository = QUrl(infos.text(3));
        info.prerm = infos.text(4);
        info.postrm = infos.text(5);
        info.preinst = infos.text(6);
        info.postinst = infos.text(7);
    }
    ZelManagerSqlStatement dependencies
        = keptStatement("SELECT dependency,comparision FROM dependencies WHERE package=?;");
    dependencies.bind(1, name);
    while (dependencies.next())
        info.dependencies.append(dependencyItem(dependencies.text(0), dependencies.text(1)));
    ZelManagerSqlStatement dependants = keptStatement("SELECT package FROM dependencies WHERE dependency=?;");
    dependants.bind(1, name);
    while (dependants.next())
        appendUnique(info.dependants, dependants.text(0));
    ZelManagerSqlStatement files = keptStatement("SELECT nofix,entry FROM fileentries WHERE package=?;");
    files.bind(1, name);
    while (files.next())
        info.fileEntries.insert(files.text(1), files.int64(0) != 0);
    return info;
}

PackageInfo ZelManagerDatabase::offeredEntry(const QString &name, const QString &version) const
{
    PackageInfo info;
    info.name = name;
    ZelManagerPackageLoader::Version best;
    QString md5sum;
    const QList<QUrl> urls = repositoryOrder();
    for (int index = 0; index < urls.size(); ++index) {
        ZelManagerSqlStatement query = keptStatement(m_repositoryDbs.value(urls.at(index)),
            "SELECT version,time,md5sum FROM filenames WHERE package=? AND architecture=?;");
        query.bind(1, name).bind(2, m_architecture);
        while (query.next()) {
            const ZelManagerPackageLoader::Version offer { query.text(0), query.int64(1), index };
            const bool better = version.isEmpty()
                ? ZelManagerPackageLoader::isNewer(offer, best)
                : offer.version == version && (best.repository < 0 || offer.time > best.time);
            if (better) {
                best = offer;
                md5sum = query.text(2);
            }
        }
    }
    if (best.repository < 0)
        return info;
    info.time = best.time;
    info.version = best.version;
    info.md5sum = md5sum;
    info.repository = urls.at(best.repository);
    sqlite3 *db = m_repositoryDbs.value(info.repository);
    ZelManagerSqlStatement dependencies = keptStatement(db,
        "SELECT dependency,comparision FROM dependencies "
        "WHERE package=? AND architecture=? AND version=?;");
    dependencies.bind(1, name).bind(2, m_architecture).bind(3, info.version);
    while (dependencies.next())
        info.dependencies.append(dependencyItem(dependencies.text(0), dependencies.text(1)));
    ZelManagerSqlStatement dependants
        = keptStatement(db, "SELECT package FROM dependencies WHERE dependency=? AND architecture=?;");
    dependants.bind(1, name).bind(2, m_architecture);
    while (dependants.next())
        appendUnique(info.dependants, dependants.text(0));
    return info;
}

QList<qint64> ZelManagerDatabase::errorIds() const
{
    QList<qint64> ids;
    ZelManagerSqlStatement query(m_statusDb, "SELECT rowid FROM errors;");
    while (query.next())
        ids.append(query.int64(0));
    for (int index = 0; index < m_unstoredErrors.size(); ++index)
        ids.append(-1 - index);
    return ids;
}

ZelManagerDatabase::ErrorRecord ZelManagerDatabase::error(qint64 rowid) const
{
    if (rowid < 0)
        return m_unstoredErrors.value(int(-1 - rowid));
    ErrorRecord record;
    ZelManagerSqlStatement query(m_statusDb, "SELECT time,package,requested,description FROM errors WHERE rowid=?;");
    if (query.bind(1, rowid).next()) {
        record.time = query.int64(0);
        record.package = query.text(1);
        record.kind = int(query.int64(2));
        record.description = query.text(3);
    }
    return record;
}

QString ZelManagerDatabase::errorDescriptions(const QString &package) const
{
    QStringList descriptions;
    ZelManagerSqlStatement query(m_statusDb, "SELECT description FROM errors WHERE package=?;");
    query.bind(1, package);
    while (query.next())
        descriptions.append(query.text(0));
    for (const ErrorRecord &record : m_unstoredErrors) {
        if (record.package == package)
            descriptions.append(record.description);
    }
    return descriptions.join(QLatin1Char('\n'));
}

int ZelManagerDatabase::errorCount() const
{
    ZelManagerSqlStatement query(m_statusDb, "SELECT count(*) FROM errors;");
    return (query.next() ? int(query.int64(0)) : 0) + m_unstoredErrors.size();
}

bool ZelManagerDatabase::clearErrors()
{
    m_unstoredErrors.clear();
    const bool ok = checkWrite(ZelManagerSql::exec(m_statusDb, "DELETE FROM errors;") == SQLITE_OK);
    emit errorsChanged(errorCount());
    return ok;
}

bool ZelManagerDatabase::addError(const QString &package, int kind, const QString &description)
{
    ErrorRecord record { QDateTime::currentMSecsSinceEpoch(), package, kind, description };
    ZelManagerSqlStatement insert(m_statusDb, "INSERT INTO errors VALUES(?,?,?,?);");
    insert.bind(1, record.time).bind(2, package).bind(3, qint64(kind)).bind(4, description);
    const bool ok = checkWrite(insert.exec());
    if (!ok && m_statusDb)
        m_unstoredErrors.append(record);
    emit errorsChanged(errorCount());
    return ok;
}

// One savepoint: the rows of one installation are stored together or not at
// all, and outside a batch they cost one commit instead of one per file.
bool ZelManagerDatabase::recordInstallation(const PackageInfo &entry, const QStringList &files)
{
    const ZelManagerPackage record = package(entry.name);
    return inSavepoint("record_installation", [&] {
        ZelManagerSqlStatement file(m_statusDb, "INSERT INTO fileentries VALUES(?,?,?);");
        bool ok = true;
        for (const QString &path : files) {
            bool fix = entry.fileEntries.value(path, false);
            if (!entry.fileEntries.contains(path) && path.endsWith(QLatin1String(".gz")))
                fix = entry.fileEntries.value(path.chopped(3), false);
            ok = ok && checkWrite(file.bind(1, qint64(fix ? 1 : 0)).bind(2, entry.name).bind(3, path).exec());
        }
        ZelManagerSqlStatement category(m_statusDb, "INSERT INTO categories VALUES(?,?);");
        for (const QString &name : record.categories())
            ok = ok && checkWrite(category.bind(1, name).bind(2, entry.name).exec());
        ZelManagerSqlStatement dependency(m_statusDb, "INSERT INTO dependencies VALUES(?,?,?);");
        for (const QString &item : entry.dependencies) {
            const QPair<QString, QString> parts = splitDependency(item);
            ok = ok && checkWrite(dependency.bind(1, entry.name).bind(2, parts.first).bind(3, parts.second).exec());
        }
        ZelManagerSqlStatement infos(m_statusDb, "INSERT INTO infos VALUES(?,?,?,?,?,?,?,?,?,?,?);");
        infos.bind(1, entry.name).bind(2, entry.time).bind(3, entry.md5sum).bind(4, entry.version);
        infos.bind(5, record.maintainer()).bind(6, entry.repository.toString()).bind(7, record.description());
        infos.bind(8, entry.prerm).bind(9, entry.postrm).bind(10, entry.preinst).bind(11, entry.postinst);
        ok = ok && checkWrite(infos.exec());
        ZelManagerSqlStatement status(m_statusDb, "UPDATE status SET status=? WHERE package=?;");
        return ok && checkWrite(status.bind(1, qint64(record.flags())).bind(2, entry.name).exec());
    });
}

bool ZelManagerDatabase::recordRemoval(
    const QString &name, int flags, const QStringList &requested, const QStringList &dependants)
{
    return inSavepoint(
        "record_status", [&] { return recordRemoval(name, flags) && storeStatus(name, flags, requested, dependants); });
}

bool ZelManagerDatabase::recordRemoval(const QString &name, int flags)
{
    const bool ok = inSavepoint("record_removal", [&] {
        // "infos" keys its rows by "name"; the other three tables by "package".
        const char *const statements[] = {
            "DELETE FROM fileentries WHERE package=?;",
            "DELETE FROM infos WHERE name=?;",
            "DELETE FROM dependencies WHERE package=?;",
            "DELETE FROM categories WHERE package=?;",
        };
        for (const char *statement : statements) {
            if (!checkWrite(keptStatement(statement).bind(1, name).exec()))
                return false;
        }
        ZelManagerSqlStatement update = keptStatement("UPDATE status SET status=? WHERE package=?;");
        return checkWrite(update.bind(1, qint64(flags)).bind(2, name).exec());
    });
    ZelManagerPackage record = package(name);
    if (ok && !record.isNull())
        record.setStoredState(flags, record.requestedBy(), record.dependants());
    return ok;
}

bool ZelManagerDatabase::storeStatus(
    const QString &name, int flags, const QStringList &requested, const QStringList &dependants)
{
    ZelManagerSqlStatement update
        = keptStatement("UPDATE status SET status=?,requested=?,dependant=? WHERE package=?;");
    update.bind(1, qint64(flags)).bind(2, requested.join(QLatin1Char(';')));
    update.bind(3, dependants.join(QLatin1Char(';'))).bind(4, name);
    if (!checkWrite(update.exec()))
        return false;
    ZelManagerPackage record = package(name);
    if (!record.isNull())
        record.setStoredState(flags, requested, dependants);
    return true;
}

bool ZelManagerDatabase::holds(const ZelManagerPackage &package) const
{
    return !package.isNull() && m_packages.value(package.name()) == package;
}

void ZelManagerDatabase::storeRequest(const ZelManagerPackage &package)
{
    ZelManagerDatabase *database = s_instance;
    if (!database || !database->holds(package))
        return;
    ZelManagerSqlStatement update(database->m_statusDb, "UPDATE status SET status=?,requested=? WHERE package=?;");
    update.bind(1, qint64(package.flags())).bind(2, package.requestedBy().join(QLatin1Char(';')));
    database->checkWrite(update.bind(3, package.name()).exec());
    database->scheduleRequestCount();
}

void ZelManagerDatabase::storeBookmark(const ZelManagerPackage &package)
{
    ZelManagerDatabase *database = s_instance;
    if (!database || !database->holds(package))
        return;
    ZelManagerSqlStatement update(database->m_statusDb, "UPDATE status SET status=? WHERE package=?;");
    database->checkWrite(update.bind(1, qint64(package.flags())).bind(2, package.name()).exec());
}

ZelManagerRepositoryUpdater *ZelManagerDatabase::createUpdater(const QUrl &url)
{
    sqlite3 *db = m_repositoryDbs.value(url);
    if (!db || !m_settings->isRepositoryEnabled(url))
        return nullptr;
    ZelManagerRepositoryUpdater *updater = new ZelManagerRepositoryUpdater(db);
    if (!updater->start(url)) {
        delete updater;
        return nullptr;
    }
    return updater;
}
