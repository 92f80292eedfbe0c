#ifndef ZELMANAGERDATABASE_H
#define ZELMANAGERDATABASE_H

#include "database/PackageInfo.h"
#include "database/ZelManagerPackage.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

class QNetworkAccessManager;
class ZelManagerPackageLoader;
class ZelManagerRepositoryUpdater;
class ZelManagerSettings;
struct sqlite3;

// The process-wide store of what is installed, what the enabled repositories
// offer, what the user requested, which files each installed package owns and
// which errors the current apply run produced. It keeps this below the
// install path in "pkgdb": one status file per architecture ("win32.db") and
// one file per repository, and holds one ZelManagerPackage record per name.
//
// Package states (installable, installed, upgradable) are recomputed only by
// endTransaction(true); everything else reads and writes the files at once.
// GUI thread only: workers get records (handles) and PackageInfo values.
class ZelManagerDatabase : public QObject
{
    Q_OBJECT

public:
    // The operation that was under way when an error was recorded.
    enum ErrorKind {
        ErrorRemove = 2,
        ErrorInstall = 3,
        ErrorUpgrade = 4,
        ErrorReinstall = 5,
    };

    // One row of the error list.
    struct ErrorRecord
    {
        qint64 time = 0; // milliseconds since the epoch
        QString package;
        int kind = 0; // ErrorKind
        QString description;
    };

    // Creates the settings store if needed, then the network access manager,
    // then the database.
    static ZelManagerDatabase *instance();
    // Destroys the database, the network access manager, then the settings store.
    static void cleanup();
    // The network access manager of the index and archive downloads; it lives
    // as long as the database.
    static QNetworkAccessManager *networkAccessManager();

    // Base name of a repository's file: the URL with ":" and "/" made "_"
    // and every "//" dropped, plus ".db".
    static QString repositoryFileName(const QUrl &url);
    // Create the tables (and lookup indexes) that a file lacks; false when
    // the file still lacks a table afterwards (not a database, read-only).
    static bool createStatusTables(sqlite3 *db);
    static bool createRepositoryTables(sqlite3 *db);

    QString installPath() const { return m_installPath; }
    QString architecture() const { return m_architecture; }
    // installPath() + "/pkgdb", where the files live.
    QString databaseFolder() const;

    // Queries.
    ZelManagerPackage package(const QString &name) const { return m_packages.value(name); }
    QHash<QString, ZelManagerPackage> packages() const { return m_packages; }
    // Distinct category names of the installed and offered packages.
    QStringList categories() const;
    // Every installed file as (package, entry relative to the target folder).
    QList<QPair<QString, QString>> fileEntries() const;
    // The entries that packages other than package have installed, as
    // (entry, owning package); paths compared without regard to letter case
    // (ASCII), as the target's file system does.
    QList<QPair<QString, QString>> fileConflicts(const QString &package, const QStringList &entries) const;
    // One version of a package. The installed data (scripts, file entries,
    // dependencies from the status file) when flag is set and version is
    // empty or the installed one; otherwise the repositories' data of that
    // version (the latest build wins), or of the newest version when version
    // is empty. An unknown version gives an info with an empty version.
    PackageInfo packageEntry(const QString &name, const QString &version, bool flag) const;
    QList<qint64> errorIds() const;
    ErrorRecord error(qint64 rowid) const;
    // The descriptions of a package's errors, one per line.
    QString errorDescriptions(const QString &package) const;
    int errorCount() const;

    // A started updater of that repository's file, without parent; nullptr
    // when the repository has no open file, is disabled, or does not start.
    // Defined together with the updater.
    ZelManagerRepositoryUpdater *createUpdater(const QUrl &url);

    // Requests with their dependency checks; each returns an empty text on
    // success or the message that explains the refusal. Defined together
    // with the dependency checks; they change requests through the records'
    // setRequest(), which stores them and schedules the request count.
    QString requestInstall(ZelManagerPackage package);
    QString requestUpgrade(ZelManagerPackage package, const QString &requester);
    QString requestReinstall(ZelManagerPackage package);
    QString requestRemove(ZelManagerPackage package);
    QString cancelRequest(ZelManagerPackage package);

    // A batch: clears the error list and opens a transaction on every file.
    void beginTransaction();
    // Ends the batch; with refresh, package states are recomputed, every
    // record is reloaded, and packagesChanged() and packagesRequestsChanged()
    // are emitted before the transactions are committed.
    void endTransaction(bool refresh);
    bool isInTransaction() const { return m_inTransaction; }

    void clearErrors();
    void addError(const QString &package, int kind, const QString &description);

    // An installed version: its infos row (maintainer, description and
    // categories from the package's record), its dependencies, its files and
    // the record's flags. files are the paths as written; each takes the fix
    // flag of entry's file entries (an Info manual compressed to ".gz" that
    // of the file it was made from).
    void recordInstallation(const PackageInfo &entry, const QStringList &files);
    // Forgets a package's installed rows and stores its new flags (and lists);
    // the record follows.
    void recordRemoval(const QString &name, int flags, const QStringList &requested, const QStringList &dependants);
    void recordRemoval(const QString &name, int flags);

    // Reloads every record from the files (states as stored) and emits
    // packagesChanged().
    void reloadPackages();

signals:
    void packagesChanged();
    void errorsChanged(int count);
    // Coalesced: a burst of request changes gives one signal, 100 ms after the last.
    void packagesRequestsChanged(int count);

public slots:
    void delayedUpdatePackageRequests();
    void onRepositoryAdded(const QUrl &url);
    void onRepositoryRemoved(const QUrl &url);
    void onInstallPathChanged(const QString &path);
    void onArchitectureChanged(const QString &architecture);

private:
    friend class ZelManagerPackage;
    // Puts a freshly imported repository file in the place of the open one.
    friend class ZelManagerRepositoryUpdater;

    ZelManagerDatabase();
    ~ZelManagerDatabase() override;

    QString repositoryPath(const QUrl &url) const;
    QList<QUrl> repositoryOrder() const;
    void openRepository(const QUrl &url);
    void closeRepositories();
    void openStatusDatabase(const QString &architecture);
    void closeStatusDatabase();
    void execEverywhere(const char *statement);

    int refresh();
    void loadPackages(ZelManagerPackageLoader &loader);
    void fillPackages(const ZelManagerPackageLoader &loader);
    ZelManagerPackageLoader loader() const;
    int requestCount() const;
    void scheduleRequestCount();
    bool holds(const ZelManagerPackage &package) const;
    PackageInfo installedEntry(const QString &name) const;
    PackageInfo offeredEntry(const QString &name, const QString &version) const;
    void storeStatus(const QString &name, int flags, const QStringList &requested, const QStringList &dependants);

    // Called by the record's setters.
    static void storeRequest(const ZelManagerPackage &package);
    static void storeBookmark(const ZelManagerPackage &package);

    sqlite3 *m_statusDb = nullptr;
    QString m_installPath;
    QString m_architecture;
    bool m_inTransaction = false;
    ZelManagerSettings *m_settings;
    QHash<QUrl, sqlite3 *> m_repositoryDbs;
    QHash<QString, ZelManagerPackage> m_packages;
    int m_pendingRequestUpdates = 0;

    static ZelManagerDatabase *s_instance;
    static QNetworkAccessManager *s_networkAccessManager;
};

#endif // ZELMANAGERDATABASE_H
