#ifndef APPLYCONTEXT_H
#define APPLYCONTEXT_H

#include "database/PackageInfo.h"

#include <QMap>
#include <QString>

class QObject;
class ZelManagerOperationModel;

// The shared state of one apply run: how many workers may run at once, the
// run's operation model, the stop request, and the PackageInfo that each
// downloader hands to its installer (or the remove manager to its removers),
// with the cache file in which the archive waits between the two.
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

    void countRunning() { ++running; }
    void countStopped() { --running; }
    bool isFull() const { return running >= limit; }
    void putInfo(const QString &name, const PackageInfo &info) { packageTable.insert(name, info); }
    PackageInfo info(const QString &name) const { return packageTable.value(name); }

    // settings cache folder + "/" + name_version_architecture_md5sum-time.cache.
    // Empty when the name, version or md5sum would put the file outside the
    // cache folder.
    static QString cacheFilePath(const PackageInfo &info);
    static QString cacheFilePath(const QString &cacheFolder, const QString &architecture, const PackageInfo &info);

    // The processor count less two, at least one.
    static int limitFor(int idealThreadCount);
};

#endif // APPLYCONTEXT_H
