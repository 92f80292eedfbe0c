#ifndef ZELMANAGERDATABASE_H
#define ZELMANAGERDATABASE_H

#include "database/PackageInfo.h"
#include "database/ZelManagerPackage.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class ZelManagerPackageLoader;
class ZelManagerRepositoryUpdater;
class ZelManagerSettings;
struct sqlite3;
struct sqlite3_stmt;
class ZelManagerSqlStatement;

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

    // A package whose installation or removal is under way, written (and
    // committed) before its files are touched and dropped in the same
    // transaction that records the outcome. What is left at a start names
    // the packages that an ended process left half done.
    enum JournalOperation {
        JournalInstall = 1, // a fresh installation: its files are written in place
        JournalReplace = 2, // an upgrade or reinstall: staged, then switched
        JournalRemove = 3,
    };
    enum JournalPhase {
        JournalWriting = 1, // nothing of the installed state changed yet
        JournalSwitching = 2, // staged files go in place, old-only files go
    };
    struct JournalEntry
    {
        QString package;
        int operation = JournalInstall;
        int phase = JournalWriting;
        // The version being installed, file entries with their fix flags
        // (empty for a removal).
        PackageInfo info;
        // Installed names (below the target folder) of the new version's
        // files, and, from the switch on, of the old version's files that
        // the new one does not have.
        QStringList newFiles;
        QStringList oldFiles;
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
    // Changes whenever a name joins or leaves packages(); while it stays the
    // same, so do the names and their records (reloads fill them in place).
    quint64 packageNamesChanges() const { return m_packageNamesChanges; }
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
    // are emitted before the transactions are committed. False when the
    // status file's commit failed (what the batch wrote since its last
    // commitProgress() is then lost).
    bool endTransaction(bool refresh);
    bool isInTransaction() const { return m_inTransaction; }
    // Inside a batch: makes what it has written to the status file so far
    // durable, and goes on in a new transaction. Package states are not
    // recomputed. Outside a batch every statement commits by itself.
    bool commitProgress();

    // Every write below returns false when SQLite refused it (the file is
    // locked by another program, the disk is full, ...); the tables are then
    // as they were and writeError() says why.
    QString writeError() const { return m_writeError; }

    bool clearErrors();
    // An error that cannot be stored is kept in memory (negative ids in
    // errorIds()), so that no failure goes unreported.
    bool addError(const QString &package, int kind, const QString &description);

    // The journal (see JournalEntry). writeJournal() replaces a package's
    // entry and commits; setJournalSwitching() marks the switch of a staged
    // package, with the old-only files, and commits; dropJournal() takes an
    // entry out without committing (the caller commits it together with the
    // outcome).
    bool writeJournal(const JournalEntry &entry);
    bool setJournalSwitching(const QString &package, const QStringList &oldFiles);
    bool dropJournal(const QString &package);
    // The outcome of a journaled package: records() writes it, and its
    // journal entry goes with it, all or nothing; then committed.
    bool commitOutcome(const QString &package, const std::function<bool()> &records);
    QList<JournalEntry> journal() const;
    // The installed package that records the file (installed name, compared
    // as the target's file system does), other than package; empty when none.
    QString fileOwner(const QString &file, const QString &package) const;

    // An installed version: its infos row (maintainer, description and
    // categories from the package's record), its dependencies, its files and
    // the record's flags. files are the paths as written; each takes the fix
    // flag of entry's file entries (an Info manual compressed to ".gz" that
    // of the file it was made from).
    bool recordInstallation(const PackageInfo &entry, const QStringList &files);
    // Forgets a package's installed rows and stores its new flags (and lists);
    // the record follows.
    bool recordRemoval(const QString &name, int flags, const QStringList &requested, const QStringList &dependants);
    bool recordRemoval(const QString &name, int flags);

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
    void repairEntryPaths();
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
    bool storeStatus(const QString &name, int flags, const QStringList &requested, const QStringList &dependants);
    // Notes a refused write (false) in writeError(); returns ok.
    bool checkWrite(bool ok) const;
    // Runs sql inside a savepoint: all of its writes or none.
    bool inSavepoint(const char *name, const std::function<bool()> &writes);
    // A statement of the status file that runs once or more for every
    // package of a run: prepared at its first use and kept until the file
    // closes (a fresh one while the kept one is still running).
    ZelManagerSqlStatement keptStatement(const char *sql) const;
    // The same for a repository file, whose lookups run once per package.
    ZelManagerSqlStatement keptStatement(sqlite3 *db, const char *sql) const;
    // Finalizes the file's kept statements and closes it.
    void closeDatabaseFile(sqlite3 *db);
    // Runs such a statement without values (a savepoint, a commit).
    bool runKept(const char *sql) const;

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
    quint64 m_packageNamesChanges = 0;
    int m_pendingRequestUpdates = 0;
    mutable QString m_writeError;
    mutable QHash<sqlite3 *, QHash<QByteArray, sqlite3_stmt *>> m_keptStatements; // by file, by SQL
    QList<ErrorRecord> m_unstoredErrors;

    static ZelManagerDatabase *s_instance;
    static QNetworkAccessManager *s_networkAccessManager;
};

#endif // ZELMANAGERDATABASE_H
