#ifndef ZELMANAGERPACKAGELOADER_H
#define ZELMANAGERPACKAGELOADER_H

#include "database/ZelManagerPackage.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QUrl>
#include <QVector>

struct sqlite3;

// Reads what the package records are made of from the status file and the
// repository files in a few whole-table scans. Loading 60,000 records this way
// costs a handful of scans instead of several lookups per package.
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

    void readStatus();
    void readInstalled();
    void readOffers();
    void readRepositoryInfos();

    // The first row of every name, in table order.
    const QVector<StatusRow> &statusRows() const { return m_statusRows; }
    bool isInstalled(const QString &name) const { return m_installed.contains(name); }
    // Installed names in table order.
    const QStringList &installedNames() const { return m_installedNames; }
    Version installed(const QString &name) const;
    // The newest offered version of name; repository -1 when none is offered.
    Version newestOffer(const QString &name) const { return m_newest.value(name); }
    // Offered names in the order they were first met.
    const QStringList &offeredNames() const { return m_offeredNames; }

    // Fills record from row and what was read (readInstalled, readOffers and
    // readRepositoryInfos first).
    void fill(ZelManagerPackage &record, const StatusRow &row) const;

    // Whether candidate replaces current as the newest offer: a higher
    // version, or the same version built later.
    static bool isNewer(const Version &candidate, const Version &current);

private:
    struct InstalledRow
    {
        Version version;
        QString repository;
        QString maintainer;
        QString description;
    };
    struct RepositoryInfos
    {
        QHash<QString, QPair<QString, QString>> infos; // name -> (maintainer, description)
        QHash<QString, QStringList> categories;
    };

    // Categories by package; of a repository only those of its newest offers.
    QHash<QString, QStringList> readCategories(sqlite3 *db, int repository) const;
    bool isNewestIn(const QString &name, int repository) const;

    sqlite3 *m_statusDb;
    QList<Repository> m_repositories;
    QString m_architecture;
    QVector<StatusRow> m_statusRows;
    QHash<QString, InstalledRow> m_installed;
    QStringList m_installedNames;
    QHash<QString, QStringList> m_installedCategories;
    QHash<QString, QStringList> m_versions; // every offered version, once
    QHash<QString, Version> m_newest;
    QStringList m_offeredNames;
    QVector<RepositoryInfos> m_repositoryInfos;
};

#endif // ZELMANAGERPACKAGELOADER_H
