#include "tools/ZelManagerApplyPlan.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ApplyContext.h"
#include "settings/ZelManagerSettings.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStorageInfo>
#include <QTimer>

#include <algorithm>

namespace {

// QStorageInfo needs a path that exists: the nearest existing folder.
QString existingAncestor(QString path)
{
    while (!path.isEmpty() && !QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

ZelManagerApplyPlan::Operation operationOf(int requestBits)
{
    if (requestBits & ZelManagerPackage::FlagRequestRemove)
        return ZelManagerApplyPlan::Remove;
    if ((requestBits & ZelManagerPackage::RequestReinstall) == ZelManagerPackage::RequestReinstall)
        return ZelManagerApplyPlan::Reinstall;
    if ((requestBits & ZelManagerPackage::RequestUpgrade) == ZelManagerPackage::RequestUpgrade)
        return ZelManagerApplyPlan::Upgrade;
    return ZelManagerApplyPlan::Install;
}

} // namespace

ZelManagerApplyPlan::ZelManagerApplyPlan(ZelManagerDatabase *database)
    : m_database(database)
{
}

void ZelManagerApplyPlan::snapshot()
{
    m_snapshot.clear();
    m_hasSnapshot = true;
    const auto packages = m_database->packages();
    for (auto it = packages.constBegin(); it != packages.constEnd(); ++it) {
        if (it.value().requestFlags())
            m_snapshot.insert(it.key(), Request { it.value().requestFlags(), it.value().requestedBy() });
    }
}

void ZelManagerApplyPlan::restore()
{
    if (!m_hasSnapshot)
        return;
    m_database->beginTransaction();
    const auto packages = m_database->packages();
    for (auto it = packages.constBegin(); it != packages.constEnd(); ++it) {
        ZelManagerPackage package = it.value();
        const Request before = m_snapshot.value(it.key());
        if (package.requestFlags() == before.bits && package.requestedBy() == before.requestedBy)
            continue;
        package.setRequest(0);
        if (before.bits == 0)
            continue;
        if (before.requestedBy.isEmpty())
            package.setRequest(before.bits);
        for (const QString &requester : before.requestedBy)
            package.setRequest(before.bits, requester);
    }
    m_database->endTransaction(true);
}

void ZelManagerApplyPlan::build()
{
    m_entries.clear();
    m_archiveUrls.clear();
    const ZelManagerSettings *settings = ZelManagerSettings::instance();
    const auto packages = m_database->packages();
    for (auto it = packages.constBegin(); it != packages.constEnd(); ++it) {
        const ZelManagerPackage &package = it.value();
        if (!package.requestFlags())
            continue;
        Entry entry;
        entry.name = it.key();
        entry.operation = operationOf(package.requestFlags());
        entry.automatic = package.isAutomatic();
        entry.requestedBy = package.requestedBy();
        entry.installedVersion = package.installedVersion();
        if (entry.operation != Install)
            entry.installedSize = installedFilesSize(entry.name);
        if (entry.operation != Remove) {
            const QString version
                = entry.operation == Reinstall ? package.installedVersion() : package.availableVersion();
            PackageInfo info = m_database->packageEntry(entry.name, version, false);
            if (info.version.isEmpty())
                info = m_database->packageEntry(entry.name, package.availableVersion(), false);
            entry.newVersion = info.version;
            const QString cacheFile = ApplyContext::cacheFilePath(info);
            if (!cacheFile.isEmpty() && QFileInfo(cacheFile).isFile()) {
                entry.cached = true;
                entry.archiveSize = QFileInfo(cacheFile).size();
            } else {
                const QUrl url = archiveUrl(info, settings->architecture());
                if (url.isValid())
                    m_archiveUrls.insert(entry.name, url.toString());
            }
        }
        m_entries.append(entry);
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

    const QStorageInfo target(existingAncestor(settings->installPath()));
    m_drive = target.rootPath();
    m_freeSpace = target.isValid() ? target.bytesAvailable() : -1;
    const QStorageInfo cache(existingAncestor(settings->cachePath()));
    m_cacheOnTargetDrive = cache.isValid() && target.isValid() && cache.device() == target.device();
}

void ZelManagerApplyPlan::measure(int timeoutMs)
{
    measureLocal();
    measureRemote(timeoutMs);
}

void ZelManagerApplyPlan::measureLocal()
{
    for (Entry &entry : m_entries) {
        const QUrl url(m_archiveUrls.value(entry.name));
        if (!url.isLocalFile())
            continue;
        m_archiveUrls.remove(entry.name);
        const QFileInfo file(url.toLocalFile());
        if (file.isFile())
            entry.archiveSize = file.size();
    }
}

void ZelManagerApplyPlan::measureRemote(int timeoutMs)
{
    if (m_archiveUrls.isEmpty())
        return;
    QNetworkAccessManager *network = ZelManagerDatabase::networkAccessManager();
    QHash<QNetworkReply *, QString> replies;
    for (auto it = m_archiveUrls.constBegin(); it != m_archiveUrls.constEnd(); ++it) {
        QNetworkRequest request { QUrl(it.value()) };
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setTransferTimeout(timeoutMs);
        if (QNetworkReply *reply = network->head(request))
            replies.insert(reply, it.key());
    }
    m_archiveUrls.clear();
    QEventLoop loop;
    int open = replies.size();
    for (auto it = replies.constBegin(); it != replies.constEnd(); ++it) {
        QNetworkReply *reply = it.key();
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&loop, &open] {
            if (--open == 0)
                loop.quit();
        });
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (open > 0)
        loop.exec();
    for (auto it = replies.constBegin(); it != replies.constEnd(); ++it) {
        QNetworkReply *reply = it.key();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (reply->isFinished() && reply->error() == QNetworkReply::NoError && length.isValid()) {
            for (Entry &entry : m_entries) {
                if (entry.name == it.value())
                    entry.archiveSize = length.toLongLong();
            }
        }
        reply->abort();
        reply->deleteLater();
    }
}

qint64 ZelManagerApplyPlan::installedFilesSize(const QString &name) const
{
    const QString target = ZelManagerSettings::instance()->targetPath() + QLatin1Char('/');
    const PackageInfo info = m_database->packageEntry(name, QString(), true);
    qint64 size = 0;
    for (auto it = info.fileEntries.constBegin(); it != info.fileEntries.constEnd(); ++it)
        size += std::max<qint64>(0, QFileInfo(target + it.key()).size());
    return size;
}

int ZelManagerApplyPlan::count(Operation operation) const
{
    return int(std::count_if(
        m_entries.begin(), m_entries.end(), [operation](const Entry &entry) { return entry.operation == operation; }));
}

qint64 ZelManagerApplyPlan::downloadSize() const
{
    qint64 size = 0;
    for (const Entry &entry : m_entries) {
        if (entry.operation != Remove && !entry.cached)
            size += std::max<qint64>(0, entry.archiveSize);
    }
    return size;
}

qint64 ZelManagerApplyPlan::spaceNeeded() const
{
    qint64 size = 0;
    for (const Entry &entry : m_entries) {
        if (entry.operation != Remove)
            size += std::max<qint64>(0, entry.archiveSize);
    }
    return size + (m_cacheOnTargetDrive ? downloadSize() : 0);
}

qint64 ZelManagerApplyPlan::spaceFreed() const
{
    qint64 size = 0;
    for (const Entry &entry : m_entries)
        size += entry.installedSize;
    return size;
}

bool ZelManagerApplyPlan::hasUnknownSizes() const
{
    return std::any_of(m_entries.begin(), m_entries.end(),
        [](const Entry &entry) { return entry.operation != Remove && entry.archiveSize < 0; });
}

QString ZelManagerApplyPlan::operationName(Operation operation)
{
    switch (operation) {
    case Install:
        return tr("install");
    case Upgrade:
        return tr("upgrade");
    case Reinstall:
        return tr("reinstall");
    case Remove:
        return tr("remove");
    }
    return QString();
}

QString ZelManagerApplyPlan::sizeText(qint64 bytes)
{
    static const char *const units[] = { "KiB", "MiB", "GiB", "TiB" };
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString ZelManagerApplyPlan::text() const
{
    const QPair<Operation, QString> sections[] = {
        { Install, tr("Packages to be installed:") },
        { Upgrade, tr("Packages to be upgraded:") },
        { Reinstall, tr("Packages to be reinstalled:") },
        { Remove, tr("Packages to be removed:") },
    };
    QString text;
    for (const auto &section : sections) {
        if (count(section.first) == 0)
            continue;
        text += section.second + QLatin1Char('\n');
        for (const Entry &entry : m_entries) {
            if (entry.operation != section.first)
                continue;
            QString line = QStringLiteral("  ") + entry.name;
            if (entry.operation == Upgrade)
                line += QLatin1Char(' ') + entry.installedVersion + QStringLiteral(" -> ") + entry.newVersion;
            else if (entry.operation == Remove)
                line += QLatin1Char(' ') + entry.installedVersion;
            else
                line += QLatin1Char(' ') + entry.newVersion;
            if (entry.automatic && entry.operation == Remove)
                line += QLatin1Char(' ') + tr("(depends on %1)").arg(entry.requestedBy.join(QStringLiteral(", ")));
            else if (entry.automatic)
                line += QLatin1Char(' ') + tr("(needed by %1)").arg(entry.requestedBy.join(QStringLiteral(", ")));
            text += line + QLatin1Char('\n');
        }
    }
    text += tr("%1 to install, %2 to upgrade, %3 to reinstall, %4 to remove.")
                .arg(count(Install))
                .arg(count(Upgrade))
                .arg(count(Reinstall))
                .arg(count(Remove))
        + QLatin1Char('\n');
    const QString atLeast = hasUnknownSizes() ? tr("at least ") : QString();
    text += tr("Download size: %1%2").arg(atLeast, sizeText(downloadSize())) + QLatin1Char('\n');
    QString space = tr("Disk space needed: %1%2").arg(atLeast, sizeText(spaceNeeded()));
    if (spaceFreed() > 0)
        space += QLatin1Char(' ') + tr("(%1 of installed files deleted or replaced)").arg(sizeText(spaceFreed()));
    text += space + QLatin1Char('\n');
    if (m_freeSpace >= 0)
        text += tr("Free space on %1: %2").arg(QDir::toNativeSeparators(m_drive), sizeText(m_freeSpace))
            + QLatin1Char('\n');
    return text;
}
