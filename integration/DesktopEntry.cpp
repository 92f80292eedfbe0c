#include "integration/DesktopEntry.h"

#include "settings/ZelManagerSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

namespace {

const QString DesktopSuffix = QStringLiteral(".desktop");

DesktopEntryType entryType(const QString &value)
{
    static const QHash<QString, DesktopEntryType> types = {
        { QStringLiteral("Application"), DesktopEntryType::Application },
        { QStringLiteral("Link"), DesktopEntryType::Link },
        { QStringLiteral("Directory"), DesktopEntryType::Directory },
        { QStringLiteral("Alternative"), DesktopEntryType::Alternative },
        { QStringLiteral("Environment"), DesktopEntryType::Environment },
        { QStringLiteral("Service"), DesktopEntryType::Service },
    };
    return types.value(value, DesktopEntryType::None);
}

QStringList listValue(const QString &value)
{
    return value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// "Name[de_DE]" -> "de_DE", "Name" -> "": the first "prefixLength" characters
// and the closing bracket go.
QString localeOf(const QString &key, int prefixLength)
{
    const int length = key.size() - prefixLength - 1;
    return length > 0 ? key.mid(prefixLength, length) : QString();
}

void applyShowIn(DesktopEntry &entry, const QString &value, bool show)
{
    for (const QString &item : listValue(value)) {
        if (item == QLatin1String("StartMenu"))
            entry.showInStartMenu = show;
        else if (item == QLatin1String("Desktop"))
            entry.showOnDesktop = show;
    }
}

bool applyLocalizedKey(DesktopEntry &entry, const QString &key, const QString &value)
{
    if (key.startsWith(QLatin1String("Name")))
        entry.names.insert(localeOf(key, 5), value);
    else if (key.startsWith(QLatin1String("GenericName")))
        entry.genericNames.insert(localeOf(key, 12), value);
    else if (key.startsWith(QLatin1String("Comment")))
        entry.comments.insert(localeOf(key, 8), value);
    else
        return false;
    return true;
}

void applyKey(DesktopEntry &entry, const QString &key, const QString &value)
{
    if (applyLocalizedKey(entry, key, value))
        return;
    static const QHash<QString, QString DesktopEntry::*> texts = {
        { QStringLiteral("Exec"), &DesktopEntry::exec },
        { QStringLiteral("Path"), &DesktopEntry::path },
        { QStringLiteral("Icon"), &DesktopEntry::icon },
        { QStringLiteral("Stop"), &DesktopEntry::stop },
        { QStringLiteral("Start"), &DesktopEntry::start },
        { QStringLiteral("Value"), &DesktopEntry::value },
        { QStringLiteral("Remove"), &DesktopEntry::remove },
        { QStringLiteral("Install"), &DesktopEntry::install },
        { QStringLiteral("Version"), &DesktopEntry::version },
    };
    const auto text = texts.constFind(key);
    if (text != texts.constEnd()) {
        entry.*(text.value()) = value;
    } else if (key == QLatin1String("Type")) {
        entry.type = entryType(value);
    } else if (key == QLatin1String("Priority")) {
        entry.priority = value.toInt();
    } else if (key == QLatin1String("Terminal")) {
        const QString lower = value.toLower();
        entry.terminal = lower == QLatin1String("1") || lower == QLatin1String("yes") || lower == QLatin1String("true");
    } else if (key == QLatin1String("OnlyShowIn")) {
        applyShowIn(entry, value, true);
    } else if (key == QLatin1String("NotShowIn")) {
        applyShowIn(entry, value, false);
    } else if (key == QLatin1String("URL")) {
        entry.url = QUrl(value);
    } else if (key == QLatin1String("MimeType")) {
        entry.mimeTypes = listValue(value);
    } else if (key == QLatin1String("Categories")) {
        entry.categories = listValue(value);
    }
}

QString localized(const QHash<QString, QString> &texts)
{
    const QString locale = QLocale::system().name();
    const auto it = texts.constFind(locale);
    return it != texts.constEnd() ? it.value() : texts.value(QString());
}

bool isSpace(QChar c)
{
    return c.isSpace();
}

// One part of a command line starting at "i"; "i" ends after the part.
QString commandLinePart(const QString &exec, int &i)
{
    const int size = exec.size();
    QString part;
    if (exec.at(i) == QLatin1Char('"')) {
        for (++i; i < size && exec.at(i) != QLatin1Char('"'); ++i) {
            part += exec.at(i);
            if (exec.at(i) == QLatin1Char('\\') && i + 1 < size)
                part += exec.at(++i);
        }
        ++i; // the closing quote, if any
        return part;
    }
    for (; i < size && !isSpace(exec.at(i)); ++i) {
        part += exec.at(i);
        if (exec.at(i) == QLatin1Char('\\') && i + 1 < size)
            part += exec.at(++i);
    }
    return part;
}

} // namespace

QString DesktopEntry::localizedName() const
{
    return localized(names);
}

QString DesktopEntry::localizedComment() const
{
    return localized(comments);
}

QString DesktopEntry::localizedGenericName() const
{
    return localized(genericNames);
}

DesktopEntry readDesktopEntry(const QString &path)
{
    DesktopEntry entry;
    const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || fileName.mid(dot + 1).toLower() != QLatin1String("desktop"))
        return entry;
    entry.id = fileName.left(fileName.size() - DesktopSuffix.size());

    QString absolute = path;
    if (!isAbsoluteHostPath(absolute))
        absolute = ZelManagerSettings::instance()->targetPath() + QLatin1Char('/') + path;
    QFile file(QFileInfo(absolute).absolutePath() + QLatin1Char('/') + entry.id + DesktopSuffix);
    if (!file.open(QIODevice::ReadOnly))
        return entry;

    QTextStream in(&file);
    in.setCodec("UTF-8");
    bool inEntry = false;
    QString line;
    while (in.readLineInto(&line)) {
        line = line.trimmed();
        if (!inEntry) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        // Later group headers do not end the entry: their keys count too.
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        applyKey(entry, line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return entry;
}

QStringList splitCommandLine(const QString &exec)
{
    QStringList parts;
    int i = 0;
    while (i < exec.size()) {
        if (isSpace(exec.at(i))) {
            ++i;
            continue;
        }
        parts << commandLinePart(exec, i).trimmed();
    }
    return parts;
}

bool isAbsoluteHostPath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return true;
    return path.size() >= 3 && path.at(0).isLetter() && path.at(1) == QLatin1Char(':')
        && (path.at(2) == QLatin1Char('/') || path.at(2) == QLatin1Char('\\'));
}
