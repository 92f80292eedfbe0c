#include "engine/ApplyContext.h"

#include "engine/ZelManagerTargetFolder.h"
#include "settings/ZelManagerSettings.h"

#include <QThread>

namespace {

bool isUsableInFileName(const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
    }
    return true;
}

} // namespace

ApplyContext::ApplyContext(ZelManagerOperationModel *model, QObject *owner)
    : limit(limitFor(QThread::idealThreadCount()))
    , owner(owner)
    , operationModel(model)
{
}

int ApplyContext::limitFor(int idealThreadCount)
{
    return qMax(1, idealThreadCount - 2);
}

QString ApplyContext::cacheFilePath(const PackageInfo &info)
{
    const ZelManagerSettings *settings = ZelManagerSettings::instance();
    return cacheFilePath(settings->cachePath(), settings->architecture(true), info);
}

QString ApplyContext::cacheFilePath(const QString &cacheFolder, const QString &architecture, const PackageInfo &info)
{
    const QString fileName = info.name + QLatin1Char('_') + info.version + QLatin1Char('_') + architecture
        + QLatin1Char('_') + info.md5sum + QLatin1Char('-') + QString::number(info.time) + QStringLiteral(".cache");
    if (!isUsableInFileName(fileName))
        return QString();
    return cacheFolder + QLatin1Char('/') + fileName;
}

QString ApplyContext::claimant(const QString &path) const
{
    return claims.value(ZelManagerTargetFolder::pathKey(path));
}

void ApplyContext::claim(const QString &name, const QStringList &paths)
{
    for (const QString &path : paths)
        claims.insert(ZelManagerTargetFolder::pathKey(path), name);
}

QStringList ApplyContext::installedPaths(const PackageInfo &info)
{
    QStringList paths;
    QSet<QString> seen;
    for (auto it = info.fileEntries.constBegin(); it != info.fileEntries.constEnd(); ++it) {
        const QString path = ZelManagerTargetFolder::installedName(it.key());
        if (!path.isEmpty() && !seen.contains(path)) {
            seen.insert(path);
            paths.append(path);
        }
    }
    return paths;
}
