#include "integration/ZelManagerUpdateIconThemeTrigger.h"

#include "diagnostics/ZelManagerLogging.h"
#include "integration/WindowsSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QSaveFile>
#include <QSettings>
#include <QSvgRenderer>

#include <algorithm>

namespace {

const QString ThemeGroup = QStringLiteral("Icon Theme");
const QString DirectoriesKey = QStringLiteral("Directories");

QString contextOf(const QString &folderName)
{
    static const QHash<QString, QString> contexts = {
        { QStringLiteral("apps"), QStringLiteral("Applications") },
        { QStringLiteral("actions"), QStringLiteral("Actions") },
        { QStringLiteral("animations"), QStringLiteral("Animations") },
        { QStringLiteral("categories"), QStringLiteral("Categories") },
        { QStringLiteral("devices"), QStringLiteral("Devices") },
        { QStringLiteral("emblems"), QStringLiteral("Emblems") },
        { QStringLiteral("emotes"), QStringLiteral("Emotes") },
        { QStringLiteral("filesystems"), QStringLiteral("FileSystems") },
        { QStringLiteral("intl"), QStringLiteral("International") },
        { QStringLiteral("mimetypes"), QStringLiteral("MimeTypes") },
        { QStringLiteral("places"), QStringLiteral("Places") },
        { QStringLiteral("status"), QStringLiteral("Status") },
        { QStringLiteral("vantor"), QStringLiteral("Vantor") },
    };
    return contexts.value(folderName, folderName);
}

// Lists come back from the settings reader split at commas (as a variant
// list when an item began with "@").
QString textValue(const QVariant &value)
{
    if (value.type() == QVariant::StringList || value.type() == QVariant::List)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool isHexDigit(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

bool isLoneSurrogate(const QString &text, int i)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate())
        return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !text.at(i - 1).isHighSurrogate();
    return false;
}

// One item of a value the way the settings reader unescapes it again:
// backslash escapes, quotes around what holds a separator or outer blanks,
// and a doubled "@" where the reader would see a typed value.
QString escapedItem(const QString &item)
{
    QString text;
    bool quote = !item.isEmpty() && (item.front().isSpace() || item.back().isSpace());
    bool hexPending = false; // a "\x" escape takes every hex digit after it
    for (int i = 0; i < item.size(); ++i) {
        const QChar c = item.at(i);
        const ushort u = c.unicode();
        if (hexPending && isHexDigit(c)) {
            text += QStringLiteral("\\x") + QString::number(u, 16);
            continue;
        }
        hexPending = false;
        if (u == ';' || u == ',' || u == '=')
            quote = true;
        if (u == '"' || u == '\\') {
            text += QLatin1Char('\\');
            text += c;
        } else if (u == '\n') {
            text += QStringLiteral("\\n");
        } else if (u == '\r') {
            text += QStringLiteral("\\r");
        } else if (u == '\t') {
            text += QStringLiteral("\\t");
        } else if (u < 0x20 || u == 0x7f || isLoneSurrogate(item, i)) {
            text += QStringLiteral("\\x") + QString::number(u, 16);
            hexPending = true;
        } else {
            text += c;
        }
    }
    if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    return quote ? QLatin1Char('"') + text + QLatin1Char('"') : text;
}

// A value whose commas are read back as a list, which the reader joins with
// commas again.
QString escapedValue(const QString &value)
{
    QStringList items = value.split(QLatin1Char(','));
    for (QString &item : items)
        item = escapedItem(item);
    return items.join(QLatin1Char(','));
}

// A key or group name the way the settings reader unescapes it: "%XX" or
// "%UXXXX" for what the reader would take as syntax, drop or decode as
// Latin-1; plain names such as "Name[de]" or "48x48/apps" stay as they are.
QString escapedName(const QString &name, bool group)
{
    static const QString syntax = QStringLiteral("%\\=;\"#");
    QString text;
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const ushort u = c.unicode();
        const bool bracket = u == '[' || u == ']';
        if (u > 0x20 && u < 0x7f && !syntax.contains(c) && !(bracket && (group || i == 0)) && (group || u != '/'))
            text += c;
        else if (u <= 0xff)
            text += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            text += QStringLiteral("%U%1").arg(u, 4, 16, QLatin1Char('0')).toUpper();
    }
    // "[General]" holds the keys outside any group.
    if (group && text.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0)
        text.prepend(QLatin1Char('%'));
    return text;
}

bool isDecimal(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// "48x48" -> 48; 0 for anything else ("16x32", "scalable").
int sizeOf(const QString &component)
{
    const QStringList parts = component.split(QLatin1Char('x'));
    if (parts.size() != 2 || parts.at(0) != parts.at(1) || !isDecimal(parts.at(0)))
        return 0;
    return parts.at(0).toInt();
}

int imageHeight(const QString &file)
{
    if (file.endsWith(QLatin1String(".svg"))) {
        QSvgRenderer renderer(file);
        return renderer.isValid() ? std::max(0, renderer.defaultSize().height()) : 0;
    }
    return std::max(0, QImageReader(file).size().height());
}

ZelManagerUpdateIconThemeTrigger::IconFolder scannedFolder(const QString &name, const QString &firstImage)
{
    ZelManagerUpdateIconThemeTrigger::IconFolder folder;
    folder.name = name;
    for (const QString &component : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (component == QLatin1String("symbolic"))
            continue;
        const int size = sizeOf(component);
        if (size > 0)
            folder.size = size;
        else
            folder.context = contextOf(component);
    }
    if (folder.size == 0)
        folder.size = imageHeight(firstImage);
    return folder;
}

ZelManagerUpdateIconThemeTrigger::Theme fallbackTheme()
{
    ZelManagerUpdateIconThemeTrigger::Theme theme;
    theme.keys.insert(QStringLiteral("Hidden"), QStringLiteral("true"));
    theme.keys.insert(QStringLiteral("Name"), QStringLiteral("Hicolor"));
    theme.keys.insert(QStringLiteral("Comment"), QStringLiteral("Fallback icon theme"));
    theme.modified = true;
    return theme;
}

} // namespace

void ZelManagerUpdateIconThemeTrigger::begin()
{
    m_touchedThemes.clear();
}

void ZelManagerUpdateIconThemeTrigger::finish()
{
    const QString icons = targetPath() + QStringLiteral("/share/icons/");
    for (const QString &name : qAsConst(m_touchedThemes))
        updateTheme(icons + name);
}

void ZelManagerUpdateIconThemeTrigger::removeFile(const QString &path)
{
    touch(path);
}

void ZelManagerUpdateIconThemeTrigger::installFile(const QString &path)
{
    touch(path);
}

void ZelManagerUpdateIconThemeTrigger::touch(const QString &path)
{
    QString name = path.mid(12);
    const int slash = name.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        name.truncate(slash);
    if (!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."))
        m_touchedThemes.insert(name);
}

ZelManagerUpdateIconThemeTrigger::Theme ZelManagerUpdateIconThemeTrigger::readIndex(const QString &indexFile)
{
    if (!QFile(indexFile).open(QIODevice::ReadOnly))
        return fallbackTheme();
    QSettings index(indexFile, QSettings::IniFormat);
    index.setIniCodec("UTF-8");
    if (index.status() != QSettings::NoError)
        return fallbackTheme();

    Theme theme;
    QStringList names;
    index.beginGroup(ThemeGroup);
    for (const QString &key : index.childKeys()) {
        if (key == DirectoriesKey) {
            for (const QString &name : index.value(key).toStringList()) {
                if (!name.trimmed().isEmpty())
                    names << name.trimmed();
            }
        } else {
            theme.keys.insert(key, textValue(index.value(key)));
        }
    }
    index.endGroup();
    std::sort(names.begin(), names.end());
    names.removeDuplicates();
    theme.directories = names;
    for (const QString &name : qAsConst(names)) {
        IconFolder folder;
        index.beginGroup(name);
        folder.size = index.value(QStringLiteral("Size")).toInt();
        folder.scale = index.value(QStringLiteral("Scale")).toInt();
        folder.maxSize = index.value(QStringLiteral("MaxSize")).toInt();
        folder.minSize = index.value(QStringLiteral("MinSize")).toInt();
        folder.threshold = index.value(QStringLiteral("Threshold")).toInt();
        folder.type = textValue(index.value(QStringLiteral("Type")));
        folder.context = textValue(index.value(QStringLiteral("Context")));
        folder.name = name;
        index.endGroup();
        theme.folders << folder;
    }
    return theme;
}

// The first image in name order speaks for its folder, so that the result
// does not depend on the order the file system lists files in.
QList<ZelManagerUpdateIconThemeTrigger::IconFolder> ZelManagerUpdateIconThemeTrigger::scanFolders(
    const QString &themeDir)
{
    static const QStringList imageSuffixes = { QStringLiteral("png"), QStringLiteral("xpm"), QStringLiteral("svg") };
    const QDir theme(themeDir);
    QMap<QString, QString> firstImages; // folder -> first image in it
    QDirIterator it(themeDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (!imageSuffixes.contains(info.suffix()))
            continue;
        const QString folder = theme.relativeFilePath(info.path());
        if (folder == QLatin1String(".") || folder.isEmpty())
            continue; // an image beside index.theme belongs to no icon folder
        auto first = firstImages.find(folder);
        if (first == firstImages.end())
            firstImages.insert(folder, info.filePath());
        else if (info.filePath() < first.value())
            first.value() = info.filePath();
    }
    QList<IconFolder> folders;
    for (auto first = firstImages.constBegin(); first != firstImages.constEnd(); ++first)
        folders << scannedFolder(first.key(), first.value());
    return folders;
}

// Written by hand, but so that the settings reader gives back exactly what
// was written, whatever names and values a hostile index brought in.
QByteArray ZelManagerUpdateIconThemeTrigger::indexContents(const Theme &theme)
{
    QString text = QStringLiteral("[Icon Theme]\n");
    for (auto it = theme.keys.constBegin(); it != theme.keys.constEnd(); ++it)
        text += escapedName(it.key(), false) + QLatin1Char('=') + escapedValue(it.value()) + QLatin1Char('\n');
    QStringList directories;
    for (const QString &name : theme.directories)
        directories << escapedItem(name);
    text += DirectoriesKey + QLatin1Char('=') + directories.join(QLatin1Char(',')) + QStringLiteral("\n\n");
    for (const IconFolder &folder : theme.folders) {
        if (folder.name.isEmpty())
            continue;
        text += QLatin1Char('[') + escapedName(folder.name, true) + QStringLiteral("]\n");
        if (!folder.type.isEmpty())
            text += QStringLiteral("Type=") + escapedValue(folder.type) + QLatin1Char('\n');
        if (folder.size != 0)
            text += QStringLiteral("Size=%1\n").arg(folder.size);
        else
            text += QStringLiteral("Size=128\nMinSize=1\nMaxSize=256\nType=Scalable\n");
        if (folder.scale != 0)
            text += QStringLiteral("Scale=%1\n").arg(folder.scale);
        if (!folder.context.isEmpty())
            text += QStringLiteral("Context=") + escapedValue(folder.context) + QLatin1Char('\n');
        if (folder.minSize > 0)
            text += QStringLiteral("MinSize=%1\n").arg(folder.minSize);
        if (folder.maxSize > 0)
            text += QStringLiteral("MaxSize=%1\n").arg(folder.maxSize);
        if (folder.threshold > 0)
            text += QStringLiteral("Threshold=%1\n").arg(folder.threshold);
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

void ZelManagerUpdateIconThemeTrigger::updateTheme(const QString &themeDir)
{
    // A theme whose folder went away with its last package is not revived.
    if (!QFileInfo(themeDir).isDir())
        return;
    const QString indexFile = themeDir + QStringLiteral("/index.theme");
    const QFileInfo indexInfo(indexFile);
    if (indexInfo.exists() && !indexInfo.isWritable())
        return;
    Theme theme = readIndex(indexFile);

    const QList<IconFolder> scanned = scanFolders(themeDir);
    QSet<QString> seen;
    for (const IconFolder &folder : scanned)
        seen.insert(folder.name);
    bool changed = false;
    QSet<QString> known;
    for (auto it = theme.folders.begin(); it != theme.folders.end();) {
        // A listed folder whose group gives no size would leave the list when
        // the index is written, and come back as new at the next update: the
        // scanned record takes its place at once.
        if (seen.contains(it->name) && it->size != 0) {
            known.insert(it->name);
            ++it;
        } else {
            it = theme.folders.erase(it);
            changed = true;
        }
    }
    for (const IconFolder &folder : scanned) {
        if (!known.contains(folder.name)) {
            theme.folders << folder;
            changed = true;
        }
    }
    if (changed) {
        theme.directories.clear();
        for (const IconFolder &folder : qAsConst(theme.folders)) {
            if (folder.size != 0)
                theme.directories << folder.name;
        }
        theme.modified = true;
    }
    if (!theme.modified)
        return;
    qCDebug(zelTriggers, "icon theme index %s", qUtf8Printable(indexFile));
    QSaveFile out(indexFile);
    if (makePath(themeDir) && out.open(QIODevice::WriteOnly)) {
        out.write(indexContents(theme));
        if (out.commit())
            return;
    }
    qCWarning(zelTriggers, "cannot write %s: %s", qUtf8Printable(indexFile), qUtf8Printable(out.errorString()));
}
