#include "integration/ZelManagerApplicationTrigger.h"

#include "diagnostics/ZelManagerLogging.h"
#include "engine/ZelManagerTargetFolder.h"
#include "integration/DesktopEntry.h"
#include "integration/ShellLink.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString LinkSuffix = QStringLiteral(".lnk");

void saveShortcut(const ShellLink &link, const QString &lnkPath)
{
    qCDebug(zelTriggers, "shortcut %s", qUtf8Printable(lnkPath));
    if (!link.save(lnkPath))
        qCWarning(zelTriggers, "cannot save shortcut %s", qUtf8Printable(lnkPath));
}

bool isShortcutEntry(const DesktopEntry &entry)
{
    return entry.type == DesktopEntryType::Application || entry.type == DesktopEntryType::Link
        || entry.type == DesktopEntryType::Directory;
}

} // namespace

QString startMenuFolder(const QStringList &categories)
{
    static const char *const folders[][2] = {
        { "Utility", QT_TRANSLATE_NOOP("ZelManagerTrigger", "Utility Tools") },
        { "Development", QT_TRANSLATE_NOOP("ZelManagerTrigger", "Development Tools") },
        { "Network", QT_TRANSLATE_NOOP("ZelManagerTrigger", "Network Tools") },
        { "Graphics", QT_TRANSLATE_NOOP("ZelManagerTrigger", "Graphics Tools") },
        { "Vantor", QT_TRANSLATE_NOOP("ZelManagerTrigger", "Vantor Tools") },
        { "System", QT_TRANSLATE_NOOP("ZelManagerTrigger", "System Tools") },
    };
    for (const auto &folder : folders) {
        if (categories.contains(QLatin1String(folder[0])))
            return QCoreApplication::translate("ZelManagerTrigger", folder[1]) + QLatin1Char('/');
    }
    return QString();
}

QString ZelManagerApplicationTrigger::desktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString ZelManagerApplicationTrigger::programsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
}

// Characters that no Windows file name may hold are replaced, so a name works
// the same on every host; an entry without a usable name falls back to its id.
QString ZelManagerApplicationTrigger::shortcutName(const DesktopEntry &entry)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    QString name = entry.localizedName();
    for (QChar &c : name) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            c = QLatin1Char('_');
    }
    name = name.trimmed();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = entry.id;
    return name;
}

bool ZelManagerApplicationTrigger::setTarget(ShellLink &link, const DesktopEntry &entry) const
{
    switch (entry.type) {
    case DesktopEntryType::Application: {
        QStringList parts = splitCommandLine(entry.exec);
        if (parts.isEmpty() || parts.first().isEmpty())
            return false; // nothing to start
        const QString program = parts.takeFirst();
        QString target = program.contains(QLatin1Char('/')) || program.contains(QLatin1Char('\\'))
            ? targetPath() + QLatin1Char('/') + program
            : targetPath() + QStringLiteral("/bin/") + QFileInfo(program).fileName();
        if (QFileInfo(program).suffix().isEmpty())
            target += QStringLiteral(".exe");
        link.setPath(target);
        link.setArguments(parts);
        link.setWorkingDirectory(QDir::toNativeSeparators(entry.path));
        return true;
    }
    case DesktopEntryType::Link:
        link.setPath(entry.url.toString());
        return true;
    default:
        link.setPath(entry.path);
        return true;
    }
}

void ZelManagerApplicationTrigger::installFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (!isShortcutEntry(entry))
        return;
    const QString name = shortcutName(entry);
    ShellLink link;
    link.setDescription(entry.localizedComment());
    if (!setTarget(link, entry))
        return;
    if (entry.showOnDesktop)
        saveShortcut(link, desktopFolder() + QLatin1Char('/') + name + LinkSuffix);
    if (entry.showInStartMenu)
        saveShortcut(link, programsFolder() + QLatin1Char('/') + startMenuFolder(entry.categories) + name + LinkSuffix);
}

void ZelManagerApplicationTrigger::removeFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (!isShortcutEntry(entry))
        return;
    const QString name = shortcutName(entry);
    qCDebug(zelTriggers, "shortcuts of %s removed", qUtf8Printable(path));
    if (entry.showOnDesktop)
        ShellLink::remove(desktopFolder() + QLatin1Char('/') + name + LinkSuffix);
    if (entry.showInStartMenu) {
        const QString folder = startMenuFolder(entry.categories);
        ShellLink::remove(programsFolder() + QLatin1Char('/') + folder + name + LinkSuffix);
        ZelManagerTargetFolder(programsFolder()).removeEmptyFoldersFrom(folder);
    }
}
