#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

TestSandbox::TestSandbox()
    : m_dir(QDir::tempPath() + QStringLiteral("/zeltest-XXXXXX"))
{
    m_oldWorkingFolder = QDir::currentPath();
    QDir().mkpath(home());
    QDir().mkpath(hostRoot());
    QDir().mkpath(work());
    qputenv("HOME", QFile::encodeName(home()));
    qputenv("ZELMANAGER_HOST_ROOT", QFile::encodeName(hostRoot()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home() + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home() + QStringLiteral("/.local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home() + QStringLiteral("/.cache")));
    qputenv("SYSTEMDRIVE", QFile::encodeName(m_dir.path()));
    // Qt remembers the settings folder once per process; point it here again.
    for (QSettings::Format format : { QSettings::NativeFormat, QSettings::IniFormat })
        QSettings::setPath(format, QSettings::UserScope, home() + QStringLiteral("/.config"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, hostRoot() + QStringLiteral("/etc/xdg"));
    QDir::setCurrent(work());
}

TestSandbox::~TestSandbox()
{
    QDir::setCurrent(m_oldWorkingFolder);
}

QString TestSandbox::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool TestSandbox::writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}
