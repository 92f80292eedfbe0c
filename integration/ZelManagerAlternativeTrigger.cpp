#include "integration/ZelManagerAlternativeTrigger.h"

#include "diagnostics/ZelManagerLogging.h"
#include "engine/ZelManagerTargetFolder.h"
#include "integration/DesktopEntry.h"
#include "integration/WindowsSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace {

struct Selection
{
    int priority = 0;
    QString value;
};

// A name is also a file name in the alternatives folder: it must stay there,
// and be the whole name (the system ends a file name at a zero character).
bool isUsableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && !name.contains(QChar(0));
}

// name -> the provider with the strictly highest positive priority; among
// equal priorities the first file in name order.
QHash<QString, Selection> selectProviders(const QString &folder)
{
    QHash<QString, Selection> table;
    const QStringList files
        = QDir(folder).entryList({ QStringLiteral("*.desktop") }, QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &file : files) {
        const DesktopEntry entry = readDesktopEntry(folder + QLatin1Char('/') + file);
        if (entry.type != DesktopEntryType::Alternative)
            continue;
        Selection &selection = table[entry.localizedName()];
        if (entry.priority > selection.priority) {
            selection.priority = entry.priority;
            selection.value = entry.value;
        }
    }
    return table;
}

} // namespace

QString ZelManagerAlternativeTrigger::configFileName(const QString &name)
{
    return name.toLower().replace(QLatin1Char('_'), QLatin1Char('.')) + QStringLiteral(".config");
}

void ZelManagerAlternativeTrigger::begin()
{
    m_touchedAlternatives.clear();
}

void ZelManagerAlternativeTrigger::removeFile(const QString &path)
{
    touch(path);
}

void ZelManagerAlternativeTrigger::installFile(const QString &path)
{
    touch(path);
}

void ZelManagerAlternativeTrigger::touch(const QString &path)
{
    const DesktopEntry entry = readDesktopEntry(path);
    if (entry.type != DesktopEntryType::Alternative)
        return;
    const QString name = entry.localizedName();
    if (isUsableName(name))
        m_touchedAlternatives.insert(name);
}

void ZelManagerAlternativeTrigger::finish()
{
    if (m_touchedAlternatives.isEmpty())
        return;
    const QString folder = targetPath() + QStringLiteral("/share/alternatives");
    const QHash<QString, Selection> table = selectProviders(folder);
    for (const QString &name : qAsConst(m_touchedAlternatives)) {
        const QString configFile = folder + QLatin1Char('/') + configFileName(name);
        const auto selected = table.constFind(name);
        // A name nobody offers any more keeps its variable: another program
        // may still rely on it.
        if (selected == table.constEnd() || selected->priority <= 0) {
            qCDebug(zelTriggers, "alternative %s: no provider left", qUtf8Printable(name));
            QFile::remove(configFile);
            continue;
        }
        qCDebug(zelTriggers, "alternative %s: %s", qUtf8Printable(name), qUtf8Printable(selected->value));
        QFile file(configFile);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            qCWarning(zelTriggers, "alternative %s: cannot write %s: %s", qUtf8Printable(name),
                qUtf8Printable(configFile), qUtf8Printable(file.errorString()));
            continue;
        }
        file.write((name + QLatin1Char('=') + selected->value).toUtf8());
        file.close();
        if (file.error() != QFileDevice::NoError) {
            qCWarning(zelTriggers, "alternative %s: cannot write %s: %s", qUtf8Printable(name),
                qUtf8Printable(configFile), qUtf8Printable(file.errorString()));
        }
        if (!setSystemEnvironmentVariable(name, selected->value))
            qCWarning(zelTriggers, "alternative %s: cannot set the environment variable", qUtf8Printable(name));
    }
    m_touchedAlternatives.clear();
    // The alternatives folder and the parents it leaves empty go, up to but
    // not including the installation folder.
    ZelManagerTargetFolder(targetPath()).removeEmptyFoldersFrom(QStringLiteral("share/alternatives"));
}
