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

// Lists come back from the settings reader split at commas.
QString textValue(const QVariant &value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
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

QByteArray ZelManagerUpdateIconThemeTrigger::indexContents(const Theme &theme)
{
    QString text = QStringLiteral("[Icon Theme]\n");
    for (auto it = theme.keys.constBegin(); it != theme.keys.constEnd(); ++it)
        text += it.key() + QLatin1Char('=') + it.value() + QLatin1Char('\n');
    text += DirectoriesKey + QLatin1Char('=') + theme.directories.join(QLatin1Char(',')) + QStringLiteral("\n\n");
    for (const IconFolder &folder : theme.folders) {
        if (folder.name.isEmpty())
            continue;
        text += QLatin1Char('[') + folder.name + QStringLiteral("]\n");
        if (!folder.type.isEmpty())
            text += QStringLiteral("Type=") + folder.type + QLatin1Char('\n');
        if (folder.size != 0)
            text += QStringLiteral("Size=%1\n").arg(folder.size);
        else
            text += QStringLiteral("Size=128\nMinSize=1\nMaxSize=256\nType=Scalable\n");
        if (folder.scale != 0)
            text += QStringLiteral("Scale=%1\n").arg(folder.scale);
        if (!folder.context.isEmpty())
            text += QStringLiteral("Context=") + folder.context + QLatin1Char('\n');
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
