#ifndef ZELMANAGERPACKAGELOADER_H
#define ZELMANAGERPACKAGELOADER_H

#include "database/ZelManagerPackage.h"

#include <QHash>
#include <QList>
#include <QUrl>
#include <QVector>

#include <vector>

struct sqlite3;
class ZelManagerSqlStatement;

// Reads what the package records are made of from the status file and the
// repository files in a few whole-table scans. Loading 60,000 records this way
// costs a handful of scans instead of several lookups per package.
//
// Every name met gets a number on first sight, and all that is read about it
// is kept in one entry under that number: one hash lookup per row read, and
// no per-name tables built and torn down by each read.
class ZelManagerPackageLoader
{
public:
    struct Repository
    {
        QUrl url;
        sqlite3 *db = nullptr;
    };
    // One row of the "status" table.
    struct StatusRow
    {
        QString name;
        int flags = 0;
        QStringList requestedBy;
        QStringList dependants;
        int id = -1; // the name's number
    };
    // One offered or installed version.
    struct Version
    {
        QString version;
        qint64 time = 0;
        int repository = -1; // index into the repository list; -1 for installed
    };

    // Repositories in the order in which they are visited: on equal versions
    // and build times the first one offers the package.
    ZelManagerPackageLoader(sqlite3 *statusDb, const QList<Repository> &repositories, const QString &architecture);

    // Room for about names names, as many as the last load met.
    void reserve(int names);
    void readStatus();
    void readInstalled();
    void readOffers();
    void readRepositoryInfos();

    // The first row of every name, in table order.
    const QVector<StatusRow> &statusRows() const { return m_statusRows; }
    // Replaces the rows read by readStatus() with what the "status" table
    // holds after the caller changed it.
    void setStatusRows(QVector<StatusRow> rows);
    bool hasStatusRow(const QString &name) const;

    // By the number of a name met by one of the reads.
    QString name(int id) const { return m_entries.at(id).name; }
    bool isInstalled(int id) const { return m_entries.at(id).installed; }
    const Version &installed(int id) const { return m_entries.at(id).installedVersion; }
    // The newest offered version; repository -1 when none is offered.
    const Version &newestOffer(int id) const { return m_entries.at(id).newest; }
    // The names that are offered or installed but have no status row:
    // offered ones in the order they were first met, then installed ones in
    // table order.
    QVector<int> unrecordedIds() const;

    // Fills record from row and what was read (readInstalled, readOffers and
    // readRepositoryInfos first).
    void fill(ZelManagerPackage &record, const StatusRow &row) const;

    // Whether candidate replaces current as the newest offer: a higher
    // version, or the same version built later.
    static bool isNewer(const Version &candidate, const Version &current);

private:
    struct Entry
    {
        QString name;
        bool hasStatus = false;
        bool installed = false;
        bool hasOfferedInfo = false;
        Version installedVersion;
        QString installedRepository;
        QString installedMaintainer;
        QString installedDescription;
        QStringList installedCategories;
        Version newest;
        QStringList versions; // every offered version, once
        // Of the repository of the newest offer.
        QString maintainer;
        QString description;
        QStringList categories;
    };

    // The number of the name in column of query's row; a new one for a name
    // not met before when add is set, otherwise -1.
    int idOf(const ZelManagerSqlStatement &query, int column, bool add);

    sqlite3 *m_statusDb;
    QList<Repository> m_repositories;
    QStringList m_repositoryUrls;
    QString m_architecture;
    QVector<StatusRow> m_statusRows;
    QHash<QString, int> m_ids;
    // Grows by moving its entries, not by copying them.
    std::vector<Entry> m_entries;
    QVector<int> m_offeredOrder;
    QVector<int> m_installedOrder;
    QString m_key; // reused for lookups, so that a lookup allocates nothing
    int m_lastId = -1; // the number of the name looked up last
};

#endif // ZELMANAGERPACKAGELOADER_H
