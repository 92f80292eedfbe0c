#include "style/MResourceManager.h"

#include "app/MLibraryInfo.h"
#include "settings/ZelManagerSettings.h"
#include "style/ZelManagerImageIconEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>

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

namespace {

const QString ImagesPrefix = QStringLiteral(":/images/");

// Icons keep the pixmaps they have drawn; they go with the application,
// before the graphics system does.
QHash<QString, QIcon> *s_icons = nullptr;

void dropIcons()
{
    delete s_icons;
    s_icons = nullptr;
}

// An image of the resource together with the sizes the theme draws
// separately (":/images/16/<name>.svg" and so on).
QIcon resourceIcon(const QString &path)
{
    if (!s_icons) {
        s_icons = new QHash<QString, QIcon>;
        qAddPostRoutine(dropIcons);
    }
    auto it = s_icons->constFind(path);
    if (it != s_icons->constEnd())
        return *it;
    QIcon icon;
    const bool image = path.startsWith(ImagesPrefix) && path.endsWith(QLatin1String(".svg"))
        && path.indexOf(QLatin1Char('/'), ImagesPrefix.size()) < 0;
    if (image && QFileInfo::exists(path)) {
        const QString fileName = path.mid(ImagesPrefix.size());
        QMap<int, QString> sized;
        for (int size : { 16, 22, 32, 64 }) {
            const QString file = ImagesPrefix + QString::number(size) + QLatin1Char('/') + fileName;
            if (QFileInfo::exists(file))
                sized.insert(size, file);
        }
        icon = QIcon(new ZelManagerImageIconEngine(path, sized));
    } else {
        icon = QIcon(path);
    }
    s_icons->insert(path, icon);
    return icon;
}

} // namespace

QIcon MResourceManager::icon(const QString &name)
{
    if (name.startsWith(QLatin1Char(':')))
        return resourceIcon(name);
    QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull()) {
        const QString own = ImagesPrefix + name + QStringLiteral(".svg");
        if (QFileInfo::exists(own))
            icon = resourceIcon(own);
    }
    return icon;
}

QPixmap MResourceManager::pixmap(const QString &name, int size)
{
    return icon(name).pixmap(size, size);
}
