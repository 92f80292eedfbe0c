#ifndef ZELMANAGERPACKAGE_H
#define ZELMANAGERPACKAGE_H

#include "database/PackageInfo.h"

#include <QCoreApplication>
#include <QExplicitlySharedDataPointer>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

// One package as every part of the program sees it. A value is a handle to a
// record owned by the package database: copies share the record and there is
// no copy on write, so a status set by a worker shows in every view at once.
// The reference count is atomic (worker threads hold handles); the fields are
// not locked and are written on the GUI thread, except the status word
// (status and progress), which any thread may set.
class ZelManagerPackage
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerPackage)

public:
    // Stored in the "status" column of the status database.
    enum PackageFlags {
        FlagBroken = 0x1,
        FlagInstallable = 0x2, // offered for the current architecture
        FlagInstalled = 0x4,
        FlagUpgradable = 0x8,
        FlagRequestInstall = 0x100,
        FlagRequestUpgrade = 0x200, // always with FlagRequestInstall (0x300)
        FlagRequestReinstall = 0x400, // always with FlagRequestInstall (0x500)
        FlagRequestRemove = 0x800,
        FlagAutomatic = 0x1000, // requested to satisfy another package's request
        FlagBookmarked = 0x2000,
        RequestMask = 0x1F00,
        // The complete request values.
        RequestInstall = 0x100,
        RequestUpgrade = 0x300,
        RequestReinstall = 0x500,
        RequestRemove = 0x800,
    };

    // Live operation state while the apply pipeline works on the package.
    enum PackageStatus {
        Waiting = 0,
        Error = 1,
        Canceling = 2,
        Removing = 3,
        Upgrading = 4,
        Installing = 5,
        Parsing = 6,
        Downloading = 7,
        Reinstalling = 8,
        Removed = 9,
        Finished = 10,
        Downloaded = 11,
    };

    ZelManagerPackage(); // the null handle
    // A record of its own that the database does not know (lists built by
    // tools, tests); the database creates the records it holds itself.
    explicit ZelManagerPackage(const QString &name, int flags = 0);
    ZelManagerPackage(const ZelManagerPackage &other);
    ZelManagerPackage(ZelManagerPackage &&other) noexcept;
    ZelManagerPackage &operator=(const ZelManagerPackage &other);
    ZelManagerPackage &operator=(ZelManagerPackage &&other) noexcept;
    ~ZelManagerPackage();

    // Handles are equal when they share one record.
    bool operator==(const ZelManagerPackage &other) const { return d == other.d; }
    bool operator!=(const ZelManagerPackage &other) const { return d != other.d; }

    // Queries; a null handle answers with empty values.
    bool isNull() const { return !d; }
    QString name() const;
    QString repository() const;
    QString maintainer() const;
    QString description() const;
    QString installedVersion() const;
    QString availableVersion() const;
    QStringList availableVersions() const;
    QStringList categories() const;
    QStringList dependants() const;
    QStringList requestedBy() const;
    qint64 installedTime() const;
    qint64 availableTime() const;
    int flags() const;
    int requestFlags() const { return flags() & RequestMask; }
    int status() const;
    QString statusText() const;
    // 0..100 is a percentage, -1 means "unknown", other negatives are kept.
    int progress() const;

    // Bit tests; a null handle counts as broken and nothing else.
    bool isBroken() const { return isNull() || (flags() & FlagBroken); }
    bool isInstallable() const { return flags() & FlagInstallable; }
    bool isInstalled() const { return flags() & FlagInstalled; }
    bool isUpgradable() const { return flags() & FlagUpgradable; }
    bool isRequested() const { return flags() & RequestMask; }
    bool isInstallRequested() const { return flags() & FlagRequestInstall; }
    bool isUpgradeRequested() const { return (flags() & RequestUpgrade) == RequestUpgrade; }
    bool isReinstallRequested() const { return (flags() & RequestReinstall) == RequestReinstall; }
    bool isRemoveRequested() const { return flags() & FlagRequestRemove; }
    bool isAutomatic() const { return flags() & FlagAutomatic; }
    bool isBookmarked() const { return flags() & FlagBookmarked; }

    // Record-only changes (the database is not written). Safe from any thread.
    // A progress above 100 is stored as -1 (unknown).
    void setProgress(int progress);
    void setStatus(PackageStatus status, const QString &message = QString());

    // Changes that the database also stores in the "status" table, for the
    // records it holds. setRequest replaces the request bits (RequestMask) with
    // those of bits and notes requester (bits 0 forgets every requester); it
    // schedules the delayed request count. setBookmarked emits nothing.
    void setRequest(int bits, const QString &requester = QString());
    void setBookmarked(bool bookmarked);

    // Counts the changes of flags and build times in all records: keys
    // copied from records stay current while the count stays the same.
    static quint64 sortKeyChanges();

    // Presentation. Icons are resource paths (":/images/...svg"); tool tips
    // are translated.
    void statusIcon(QString &icon, QString &toolTip) const;
    void bookmarkIcon(QString &icon, QString &toolTip) const;
    // Whether the package passes the package list's search text and filter
    // bits (RequestMask part, state part 0x1F, FlagBookmarked).
    bool matches(const QString &text, int filter) const;

private:
    friend class ZelManagerDatabase;
    friend class ZelManagerPackageLoader;
    struct Record;

    // Filled by the database when it (re)loads the record.
    void clearForLoad();
    void setStoredState(int flags, const QStringList &requestedBy, const QStringList &dependants);
    void setInstalledData(const QString &version, qint64 time, const QString &repository, const QString &maintainer,
        const QString &description, const QStringList &categories);
    void setAvailableData(const QString &version, qint64 time, const QString &repository, const QString &maintainer,
        const QString &description, const QStringList &categories);
    void setAvailableVersions(const QStringList &versions);

    QExplicitlySharedDataPointer<Record> d;
};

Q_DECLARE_METATYPE(ZelManagerPackage)

using PackageFlags = ZelManagerPackage::PackageFlags;
using PackageStatus = ZelManagerPackage::PackageStatus;

// The one version order of the system: -1, 0 or 1. An invalid version (one
// that starts with "-" or whose dotted parts start with ".") sorts first.
int compareVersions(const QString &a, const QString &b);

// Whether version stands in relation op ("=", ">", "<", "!=", ">=", "<=") to
// required; any other operator is never satisfied.
bool versionSatisfies(const QString &version, const QString &required, const QString &op);

// Where the archive of info's version lies on its repository for the
// installation's architecture ("win32" or "win64"); invalid when the info
// names no repository or no version.
QUrl archiveUrl(const PackageInfo &info, const QString &architecture);

// A dependency text "name", "name>=1.2" or "name >= 1.2" split at its first
// "<", "=", ">" or "!" into (name, comparison), both trimmed.
QPair<QString, QString> splitDependency(const QString &text);

#endif // ZELMANAGERPACKAGE_H
