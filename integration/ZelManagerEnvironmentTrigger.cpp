#include "integration/ZelManagerEnvironmentTrigger.h"

#include "diagnostics/ZelManagerLogging.h"
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
    qCDebug(zelTriggers, "environment %s=%s", qUtf8Printable(name), qUtf8Printable(value));
    if (!setSystemEnvironmentVariable(name, value))
        qCWarning(zelTriggers, "environment %s: cannot set the variable", qUtf8Printable(name));
}

void ZelManagerEnvironmentTrigger::removeFile(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (entry.type != DesktopEntryType::Environment)
        return;
    const QString name = entry.localizedName();
    if (name.isEmpty())
        return;
    qCDebug(zelTriggers, "environment %s removed", qUtf8Printable(name));
    if (!removeSystemEnvironmentVariable(name))
        qCWarning(zelTriggers, "environment %s: cannot remove the variable", qUtf8Printable(name));
}
