#include "style/MResourceManager.h"

#include "app/MLibraryInfo.h"
#include "settings/ZelManagerSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QStringList MResourceManager::s_themes;
QString MResourceManager::s_currentTheme;

QStringList MResourceManager::iconFolders()
{
    QStringList folders;
    if (QCoreApplication::instance()) {
        const QString program = QCoreApplication::applicationDirPath();
        folders << program + QStringLiteral("/share/icons")
                << QDir::cleanPath(program + QStringLiteral("/../share/icons"));
    }
    folders << MLibraryInfo::getDataPath(true) + QStringLiteral("/icons");
    return folders;
}

void MResourceManager::initialize()
{
    Q_INIT_RESOURCE(resources);
    s_themes.clear();
    const QStringList folders = iconFolders();
    for (const QString &folder : folders) {
        const QStringList entries = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &entry : entries) {
            if (QFileInfo::exists(folder + QLatin1Char('/') + entry + QStringLiteral("/index.theme"))
                && !s_themes.contains(entry))
                s_themes << entry;
        }
    }
    QIcon::setThemeSearchPaths(folders + QIcon::themeSearchPaths());
    const QString wanted = ZelManagerSettings::iconTheme();
    s_currentTheme = s_themes.contains(wanted) ? wanted : QStringLiteral("hicolor");
    QIcon::setThemeName(s_currentTheme);
}

QStringList MResourceManager::themes()
{
    return s_themes;
}

QString MResourceManager::currentTheme()
{
    return s_currentTheme;
}

QIcon MResourceManager::icon(const QString &name)
{
    if (name.startsWith(QLatin1Char(':')))
        return QIcon(name);
    QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull()) {
        const QString own = QStringLiteral(":/images/") + name + QStringLiteral(".svg");
        if (QFileInfo::exists(own))
            icon = QIcon(own);
    }
    return icon;
}

QPixmap MResourceManager::pixmap(const QString &name, int size)
{
    return icon(name).pixmap(size, size);
}
