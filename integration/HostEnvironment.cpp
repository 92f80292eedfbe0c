#include "integration/HostEnvironment.h"

#include <QDir>

QString HostEnvironment::hostRoot()
{
    QString root = QString::fromLocal8Bit(qgetenv("ZELMANAGER_HOST_ROOT"));
    if (root.isEmpty())
        root = QStringLiteral("/var/lib/zelmanager");
    return QDir::cleanPath(QDir::fromNativeSeparators(root));
}

QString HostEnvironment::homeFolder()
{
    QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    if (home.isEmpty())
        home = QDir::homePath();
    return QDir::fromNativeSeparators(home);
}

QString HostEnvironment::machineHiveFile()
{
    return hostRoot() + QStringLiteral("/registry/machine.reg");
}

QString HostEnvironment::userHiveFile()
{
    return QDir::cleanPath(homeFolder() + QStringLiteral("/.vantor/registry/user.reg"));
}

QString HostEnvironment::environmentScriptFile()
{
    return QDir::cleanPath(homeFolder() + QStringLiteral("/.vantor/environment.sh"));
}
