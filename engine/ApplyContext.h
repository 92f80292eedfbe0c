#ifndef APPLYCONTEXT_H
#define APPLYCONTEXT_H

#include "database/PackageInfo.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class QObject;
class ZelManagerOperationModel;
class ZelManagerRemoveWorker;
class ZelManagerTargetFolder;

// The shared state of one apply run: how many workers may run at once, the
// run's operation model, the stop request, and the PackageInfo that each
// downloader hands to its installer (or the remove manager to its removers),
// with the cache file in which the archive waits between the two.
//
// It also keeps the files that packages of the run have claimed: a
// downloaded package claims the files it will install before it may be
// installed, and a file claimed once is no other package's to take. The
// download manager takes the claims in an order that does not depend on
// timing, so that the same requests always give the same answer.
// GUI thread only: workers count themselves in their GUI-thread slots.
struct ApplyContext
{
    explicit ApplyContext(ZelManagerOperationModel *model = nullptr, QObject *owner = nullptr);

    int running = 0;
    int limit = 1;
    QObject *owner = nullptr;
    bool stop = false;
    ZelManagerOperationModel *operationModel = nullptr;
    QMap<QString, PackageInfo> packageTable;
    // Every package that the run installs, upgrades, reinstalls or removes:
    // their installed files are the run's to hand over, not a conflict of
    // the downloader's (the download manager decides them).
    QSet<QString> members;
    // Set while the run's removals have not all ended.
    bool removing = false;
    // ZelManagerTargetFolder::pathKey() of a file -> the package that has
    // claimed it.
    QHash<QString, QString> claims;
    // The thread in which the run's removers delete files, made by the
    // first of them.
    std::shared_ptr<ZelManagerRemoveWorker> removeWorker;
    // The install folder as the removers start from it, its links resolved
    // once for the run; each remover works on a copy.
    std::shared_ptr<const ZelManagerTargetFolder> removeTarget;

    void countRunning() { ++running; }
    void countStopped() { --running; }
    bool isFull() const { return running >= limit; }
    void putInfo(const QString &name, const PackageInfo &info) { packageTable.insert(name, info); }
    PackageInfo info(const QString &name) const { return packageTable.value(name); }
    // The package that has claimed path (compared as the target's file
    // system does), empty when none has.
    QString claimant(const QString &path) const;
    void claim(const QString &name, const QStringList &paths);

    // settings cache folder + "/" + name_version_architecture_md5sum-time.cache.
    // Empty when the name, version or md5sum would put the file outside the
    // cache folder.
    static QString cacheFilePath(const PackageInfo &info);
    static QString cacheFilePath(const QString &cacheFolder, const QString &architecture, const PackageInfo &info);

    // The processor count less two, at least one.
    static int limitFor(int idealThreadCount);
    // The paths below the install folder under which the package's files
    // are installed (its file entries, Info manuals as ".gz").
    static QStringList installedPaths(const PackageInfo &info);
};

#endif // APPLYCONTEXT_H
