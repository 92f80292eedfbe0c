#include "app/MLibraryInfo.h"

#include "settings/ZelManagerSettings.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

namespace {

struct NativeTarget
{
    bool recorded = false;
    int wordSize = 0;
    QString architecture;
    QString processor;
};

NativeTarget &nativeTarget()
{
    static NativeTarget target;
    return target;
}

} // namespace

QString MLibraryInfo::getVersion()
{
    return QStringLiteral("2.6.0");
}

QDateTime MLibraryInfo::parseBuildTime(const char *date, const char *time)
{
    static const char *const months[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    const QStringList parts = QString::fromLatin1(date).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 3)
        return QDateTime();
    int month = 0;
    for (int i = 0; i < 12; ++i) {
        if (parts.at(0) == QLatin1String(months[i]))
            month = i + 1;
    }
    const QStringList clock = QString::fromLatin1(time).split(QLatin1Char(':'));
    if (clock.size() != 3)
        return QDateTime();
    return QDateTime(QDate(parts.at(2).toInt(), month, parts.at(1).toInt()),
        QTime(clock.at(0).toInt(), clock.at(1).toInt(), clock.at(2).toInt()), Qt::UTC);
}

QDateTime MLibraryInfo::getBuildTime()
{
    static const QDateTime buildTime = parseBuildTime(__DATE__, __TIME__);
    return buildTime;
}

QString MLibraryInfo::getPrefixPath(bool user, int target)
{
    if (user) {
        QString home = QString::fromLocal8Bit(qgetenv("HOME"));
        if (home.isEmpty())
            home = QDir::homePath();
        return QDir::cleanPath(QDir::fromNativeSeparators(home) + QStringLiteral("/.vantor"));
    }
    return target == 0 ? QLibraryInfo::location(QLibraryInfo::PrefixPath) : QString();
}

QString MLibraryInfo::getSettingsPath(bool user, int target)
{
    if (user)
        return getPrefixPath(true) + QStringLiteral("/etc");
    return target == 0 ? getPrefixPath(false) + QStringLiteral("/etc/") + ZelManagerSettings::organizationName()
                       : QString();
}

QString MLibraryInfo::subPath(bool user, int target, const QString &sub)
{
    if (!user && target != 0)
        return QString();
    return getPrefixPath(user, target) + QLatin1Char('/') + sub;
}

QString MLibraryInfo::getBinariesPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("bin"));
}
QString MLibraryInfo::getHeadersPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("include"));
}
QString MLibraryInfo::getLibrariesPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("lib"));
}
QString MLibraryInfo::getPluginsPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("lib/plugins"));
}
QString MLibraryInfo::getDataPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("share"));
}
QString MLibraryInfo::getResourcesPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("share/resources"));
}
QString MLibraryInfo::getDocumentationPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("share/doc"));
}
QString MLibraryInfo::getVariableDataPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("var"));
}
QString MLibraryInfo::getTranslationsPath(bool user, int target)
{
    return subPath(user, target, QStringLiteral("share/translations"));
}

void MLibraryInfo::updateNativeTarget()
{
    NativeTarget &target = nativeTarget();
    if (target.recorded)
        return;
    target = { true, 32, QStringLiteral("i386"), QStringLiteral("i686") };
}

int MLibraryInfo::nativeWordSize()
{
    return nativeTarget().wordSize;
}
QString MLibraryInfo::nativeArchitecture()
{
    return nativeTarget().architecture;
}
QString MLibraryInfo::nativeProcessor()
{
    return nativeTarget().processor;
}
