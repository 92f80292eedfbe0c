#include "integration/ZelManagerEnvironmentTrigger.h"

#include "integration/DesktopEntry.h"
#include "integration/WindowsSupport.h"

void ZelManagerEnvironmentTrigger::installFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (entry.type != DesktopEntryType::Environment)
        return;
    const QString name = entry.localizedName();
    if (name.isEmpty())
        return;
    QString value = entry.value;
    if (!entry.path.isEmpty())
        value = isAbsoluteHostPath(entry.path) ? entry.path : targetPath() + QLatin1Char('/') + entry.path;
    setSystemEnvironmentVariable(name, value);
}

void ZelManagerEnvironmentTrigger::removeFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (entry.type != DesktopEntryType::Environment)
        return;
    const QString name = entry.localizedName();
    if (!name.isEmpty())
        removeSystemEnvironmentVariable(name);
}
