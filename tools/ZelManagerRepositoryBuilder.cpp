#include "tools/ZelManagerRepositoryBuilder.h"

#include "engine/MMd5SumCalculator.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>

namespace {

const qint64 IoPiece = 256 * 1024;
const char *const ScriptNames[] = { "preinst", "postinst", "prerm", "postrm" };

QString *scriptField(ZelManagerRepositoryBuilder::Manifest *manifest, const QString &name)
{
    if (name == QLatin1String("preinst"))
        return &manifest->preinst;
    if (name == QLatin1String("postinst"))
        return &manifest->postinst;
    if (name == QLatin1String("prerm"))
        return &manifest->prerm;
    if (name == QLatin1String("postrm"))
        return &manifest->postrm;
    return nullptr;
}

// XML 1.0 can carry no control character other than tab and line ends.
bool isXmlSafe(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            return false;
        if (c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
            return false;
    }
    return true;
}

bool isSafeEntryPath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))
        || path.contains(QLatin1Char(':')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

struct WriteTarget
{
    QSaveFile *file = nullptr;
    MMd5SumCalculator md5;
};

la_ssize_t writeCallback(struct archive *archive, void *client, const void *buffer, size_t length)
{
    WriteTarget *target = static_cast<WriteTarget *>(client);
    const char *bytes = static_cast<const char *>(buffer);
    if (target->file->write(bytes, qint64(length)) != qint64(length)) {
        archive_set_error(archive, EIO, "%s", qPrintable(target->file->errorString()));
        return -1;
    }
    target->md5.addData(bytes, qint64(length));
    return la_ssize_t(length);
}

QString entryPath(struct archive_entry *entry)
{
    const wchar_t *wide = archive_entry_pathname_w(entry);
    QString path = wide ? QString::fromWCharArray(wide) : QString::fromUtf8(archive_entry_pathname(entry));
    if (path.startsWith(QLatin1String("./")))
        path.remove(0, 2);
    return path;
}

QString archiveError(struct archive *archive)
{
    const char *text = archive_error_string(archive);
    return text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace

bool ZelManagerRepositoryBuilder::fail(const QString &text)
{
    m_errorText = text;
    return false;
}

QString ZelManagerRepositoryBuilder::archiveFileName(
    const QString &name, const QString &version, const QString &architecture)
{
    const QString processor = architecture == QLatin1String("win32") ? QStringLiteral("i686") : QStringLiteral("amd64");
    return name + QLatin1Char('_') + version + QLatin1Char('_') + processor + QStringLiteral(".vtrpkg");
}

QString ZelManagerRepositoryBuilder::normalizedDependency(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([^\\s<=>!]+)\\s*(?:(<=|>=|!=|=|<|>)\\s*([^\\s<=>!]+))?\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return QString();
    if (match.capturedLength(2) == 0)
        return match.captured(1);
    return match.captured(1) + QLatin1Char(' ') + match.captured(2) + QLatin1Char(' ') + match.captured(3);
}

bool ZelManagerRepositoryBuilder::readManifest(const QString &sourceFolder, Manifest *manifest, QString *error)
{
    const QString path = sourceFolder + QStringLiteral("/manifest");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("Can not read %1: %2").arg(path, file.errorString());
        return false;
    }
    *manifest = Manifest();
    manifest->architecture.clear();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QSet<QString> seen;
    QString lastKey;
    for (int number = 1; number <= lines.size(); ++number) {
        QString line = lines.at(number - 1);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString where = tr("%1, line %2").arg(path).arg(number);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.at(0).isSpace()) {
            if (lastKey != QLatin1String("description")) {
                *error = tr("%1: only the description may continue on further lines").arg(where);
                return false;
            }
            const QString text = line.trimmed();
            manifest->description += QLatin1Char('\n') + (text == QLatin1String(".") ? QString() : text);
            continue;
        }
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) {
            *error = tr("%1: expected \"key: value\"").arg(where);
            return false;
        }
        const QString key = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        lastKey = key;
        QString *single = nullptr;
        if (key == QLatin1String("name"))
            single = &manifest->name;
        else if (key == QLatin1String("version"))
            single = &manifest->version;
        else if (key == QLatin1String("architecture"))
            single = &manifest->architecture;
        else if (key == QLatin1String("maintainer"))
            single = &manifest->maintainer;
        else if (key == QLatin1String("description"))
            single = &manifest->description;

        if (single || key == QLatin1String("time")) {
            if (seen.contains(key)) {
                *error = tr("%1: \"%2\" given twice").arg(where, key);
                return false;
            }
            seen.insert(key);
        }
        if (single) {
            *single = value;
        } else if (key == QLatin1String("time")) {
            bool ok = false;
            manifest->time = value.toLongLong(&ok);
            if (!ok || manifest->time < 0) {
                *error = tr("%1: the time must be a number of seconds").arg(where);
                return false;
            }
        } else if (key == QLatin1String("category")) {
            manifest->categories.append(value);
        } else if (key == QLatin1String("depends")) {
            manifest->dependencies.append(value);
        } else if (key == QLatin1String("nofix")) {
            manifest->nofix.append(value);
        } else {
            *error = tr("%1: unknown key \"%2\"").arg(where, key);
            return false;
        }
    }
    for (const char *name : ScriptNames) {
        QFile script(sourceFolder + QLatin1Char('/') + QLatin1String(name));
        if (!script.exists())
            continue;
        if (!script.open(QIODevice::ReadOnly)) {
            *error = tr("Can not read %1: %2").arg(script.fileName(), script.errorString());
            return false;
        }
        *scriptField(manifest, QLatin1String(name)) = QString::fromUtf8(script.readAll());
    }
    if (!validateManifest(manifest, error)) {
        *error = path + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

bool ZelManagerRepositoryBuilder::validateManifest(Manifest *manifest, QString *error)
{
    // Name and version end up in file names here and in the program's cache.
    static const QRegularExpression namePattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9+._-]*$"));
    static const QRegularExpression versionPattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9+.~_-]*$"));
    if (!namePattern.match(manifest->name).hasMatch()) {
        *error = tr("\"%1\" is not a valid package name").arg(manifest->name);
        return false;
    }
    if (!versionPattern.match(manifest->version).hasMatch()) {
        *error = tr("\"%1\" is not a valid version").arg(manifest->version);
        return false;
    }
    manifest->architecture = ZelManagerRepositoryIndex::normalizedArchitecture(manifest->architecture);
    if (manifest->architecture != QLatin1String("win32") && manifest->architecture != QLatin1String("win64")) {
        *error = tr("\"%1\" is not an architecture (win32 or win64)").arg(manifest->architecture);
        return false;
    }
    for (QString &dependency : manifest->dependencies) {
        const QString normalized = normalizedDependency(dependency);
        if (normalized.isEmpty()) {
            *error = tr("\"%1\" is not a dependency (name, or name, operator and version)").arg(dependency);
            return false;
        }
        dependency = normalized;
    }
    for (const QStringList *list : { &manifest->categories, &manifest->nofix }) {
        if (list->contains(QString())) {
            *error = tr("An empty category or nofix pattern");
            return false;
        }
    }
    const QStringList texts = QStringList { manifest->maintainer, manifest->description, manifest->preinst,
        manifest->postinst, manifest->prerm, manifest->postrm }
        + manifest->categories + manifest->nofix;
    for (const QString &text : texts) {
        if (!isXmlSafe(text)) {
            *error = tr("A text holds a control character that XML can not carry");
            return false;
        }
    }
    if (manifest->time < 0) {
        *error = tr("The build time is negative");
        return false;
    }
    return true;
}

QByteArray ZelManagerRepositoryBuilder::controlFile(const Manifest &manifest)
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("package"));
    writer.writeTextElement(QStringLiteral("name"), manifest.name);
    writer.writeTextElement(QStringLiteral("version"), manifest.version);
    writer.writeTextElement(QStringLiteral("architecture"), manifest.architecture);
    writer.writeTextElement(QStringLiteral("time"), QString::number(manifest.time));
    ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("maintainer"), manifest.maintainer);
    ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("description"), manifest.description);
    writer.writeStartElement(QStringLiteral("categories"));
    for (const QString &category : manifest.categories)
        ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("category"), category);
    writer.writeEndElement();
    for (const QString &dependency : manifest.dependencies)
        writer.writeTextElement(QStringLiteral("dependency"), dependency);
    const QString scripts[] = { manifest.preinst, manifest.postinst, manifest.prerm, manifest.postrm };
    for (int n = 0; n < 4; ++n) {
        if (!scripts[n].isEmpty())
            ZelManagerRepositoryIndex::writeTextElement(writer, QLatin1String(ScriptNames[n]), scripts[n]);
    }
    for (const QString &pattern : manifest.nofix)
        ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("nofix"), pattern);
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

bool ZelManagerRepositoryBuilder::parseControlFile(const QByteArray &xml, Manifest *manifest, QString *error)
{
    *manifest = Manifest();
    manifest->architecture.clear();
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("package")) {
        *error = reader.hasError() ? reader.errorString() : tr("no \"package\" root element");
        return false;
    }
    while (reader.readNextStartElement()) {
        const QString name = reader.name().toString();
        if (QString *script = scriptField(manifest, name)) {
            *script = reader.readElementText();
        } else if (name == QLatin1String("name")) {
            manifest->name = reader.readElementText();
        } else if (name == QLatin1String("version")) {
            manifest->version = reader.readElementText();
        } else if (name == QLatin1String("architecture")) {
            manifest->architecture = reader.readElementText();
        } else if (name == QLatin1String("time")) {
            manifest->time = reader.readElementText().trimmed().toLongLong();
        } else if (name == QLatin1String("maintainer")) {
            manifest->maintainer = reader.readElementText();
        } else if (name == QLatin1String("description")) {
            manifest->description = reader.readElementText();
        } else if (name == QLatin1String("categories")) {
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("category"))
                    manifest->categories.append(reader.readElementText());
                else
                    reader.skipCurrentElement();
            }
        } else if (name == QLatin1String("dependency")) {
            manifest->dependencies.append(reader.readElementText());
        } else if (name == QLatin1String("nofix")) {
            manifest->nofix.append(reader.readElementText());
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError()) {
        *error = tr("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        return false;
    }
    return true;
}

bool ZelManagerRepositoryBuilder::collectFiles(const QString &filesFolder, QList<ArchiveEntry> *entries)
{
    const QDir root(QFileInfo(filesFolder).absoluteFilePath());
    if (!root.exists())
        return true;
    QStringList paths;
    QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(root.relativeFilePath(it.next()));
    paths.sort();
    for (const QString &relative : paths) {
        const QFileInfo info(root.filePath(relative));
        ArchiveEntry entry;
        entry.path = relative;
        entry.time = info.lastModified().toSecsSinceEpoch();
        if (relative == QLatin1String("package.xml"))
            return fail(tr("%1 would be taken for the package's control file").arg(info.filePath()));
        if (info.isSymLink())
            return fail(tr("%1 is a symbolic link; packages carry regular files only").arg(info.filePath()));
        if (info.isDir()) {
            entry.type = ArchiveEntry::Directory;
            entry.permissions = 0755;
        } else if (info.isFile()) {
            entry.sourceFile = info.filePath();
            entry.permissions = info.isExecutable() ? 0755 : 0644;
        } else {
            return fail(tr("%1 is not a regular file").arg(info.filePath()));
        }
        entries->append(entry);
    }
    return true;
}

bool ZelManagerRepositoryBuilder::buildPackage(const QString &sourceFolder, const QString &repositoryFolder)
{
    Manifest manifest;
    QString error;
    if (!readManifest(sourceFolder, &manifest, &error))
        return fail(error);
    return buildPackage(manifest, sourceFolder + QStringLiteral("/files"), repositoryFolder);
}

bool ZelManagerRepositoryBuilder::buildPackage(
    const Manifest &manifest, const QString &filesFolder, const QString &repositoryFolder)
{
    QList<ArchiveEntry> files;
    if (!collectFiles(filesFolder, &files))
        return false;
    return buildPackage(manifest, files, repositoryFolder);
}

bool ZelManagerRepositoryBuilder::buildPackage(
    const Manifest &source, const QList<ArchiveEntry> &files, const QString &repositoryFolder)
{
    m_errorText.clear();
    Manifest manifest = source;
    QString error;
    if (!validateManifest(&manifest, &error))
        return fail(error);
    manifest.time = m_time > 0 ? m_time : (manifest.time > 0 ? manifest.time : QDateTime::currentSecsSinceEpoch());

    // Read the index first: an index that can not be updated must not leave
    // a new archive behind.
    ZelManagerRepositoryIndex index;
    const QString indexPath = repositoryFolder + QStringLiteral("/packages.xml");
    if (m_indexUpdate && !index.load(indexPath))
        return fail(index.errorText());

    ArchiveEntry control(QStringLiteral("package.xml"), controlFile(manifest));
    control.time = m_entryTime > 0 ? m_entryTime : manifest.time;
    QList<ArchiveEntry> entries { control };
    for (ArchiveEntry entry : files) {
        if (!isSafeEntryPath(entry.path) || entry.path == QLatin1String("package.xml"))
            return fail(tr("\"%1\" can not be a path inside a package").arg(entry.path));
        if (m_entryTime > 0)
            entry.time = m_entryTime;
        entries.append(entry);
    }
    if (m_dotSlash) {
        for (ArchiveEntry &entry : entries)
            entry.path.prepend(QStringLiteral("./"));
    }

    const QString archivePath
        = repositoryFolder + QLatin1Char('/') + archiveFileName(manifest.name, manifest.version, manifest.architecture);
    QString md5;
    if (!QDir().mkpath(repositoryFolder))
        return fail(tr("Can not create the folder %1").arg(repositoryFolder));
    if (!writeArchive(archivePath, entries, m_compression, &md5, &error))
        return fail(error);

    if (m_indexUpdate) {
        addToIndex(&index, manifest, md5);
        if (!index.save(indexPath))
            return fail(index.errorText());
    }
    m_archivePath = archivePath;
    m_md5sum = md5;
    m_builtTime = manifest.time;
    return true;
}

void ZelManagerRepositoryBuilder::addToIndex(
    ZelManagerRepositoryIndex *index, const Manifest &manifest, const QString &md5sum)
{
    const ZelManagerRepositoryIndex::Package metadata { manifest.name, manifest.maintainer, manifest.description,
        manifest.categories, {} };
    index->addFile(metadata, { manifest.version, manifest.architecture, manifest.time, md5sum, manifest.dependencies });
}

bool ZelManagerRepositoryBuilder::rebuildIndex(const QString &repositoryFolder)
{
    m_errorText.clear();
    const QDir folder(repositoryFolder);
    if (!folder.exists())
        return fail(tr("The folder %1 does not exist").arg(repositoryFolder));
    ZelManagerRepositoryIndex index;
    const QStringList archives
        = folder.entryList({ QStringLiteral("*.vtrpkg") }, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &fileName : archives) {
        const QString path = folder.filePath(fileName);
        QByteArray xml;
        Manifest manifest;
        QString error;
        if (!readControlFile(path, &xml, &error) || !parseControlFile(xml, &manifest, &error)
            || !validateManifest(&manifest, &error))
            return fail(tr("%1: %2").arg(path, error));
        const QString expected = archiveFileName(manifest.name, manifest.version, manifest.architecture);
        if (fileName != expected)
            return fail(tr("%1 should be named %2").arg(path, expected));
        if (manifest.time <= 0)
            manifest.time = QFileInfo(path).lastModified().toSecsSinceEpoch();
        const QString md5 = fileMd5Sum(path);
        if (md5.isEmpty())
            return fail(tr("Can not read %1").arg(path));
        addToIndex(&index, manifest, md5);
    }
    if (!index.save(folder.filePath(QStringLiteral("packages.xml"))))
        return fail(index.errorText());
    return true;
}

namespace {

bool writeEntryData(
    struct archive *archive, const ZelManagerRepositoryBuilder::ArchiveEntry &entry, qint64 size, QString *error)
{
    if (entry.sourceFile.isEmpty()) {
        if (!entry.data.isEmpty() && archive_write_data(archive, entry.data.constData(), size_t(size)) < 0) {
            *error = archiveError(archive);
            return false;
        }
        return true;
    }
    QFile file(entry.sourceFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QCoreApplication::translate("ZelManagerRepositoryBuilder", "Can not read %1: %2")
                     .arg(entry.sourceFile, file.errorString());
        return false;
    }
    QByteArray buffer(int(IoPiece), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(buffer.data(), qMin(IoPiece, size - done));
        if (got <= 0)
            break;
        if (archive_write_data(archive, buffer.constData(), size_t(got)) < 0) {
            *error = archiveError(archive);
            return false;
        }
        done += got;
    }
    if (done != size || !file.atEnd()) {
        *error = QCoreApplication::translate("ZelManagerRepositoryBuilder", "%1 changed while it was read")
                     .arg(entry.sourceFile);
        return false;
    }
    return true;
}

bool writeEntry(struct archive *archive, const ZelManagerRepositoryBuilder::ArchiveEntry &entry, QString *error)
{
    using Entry = ZelManagerRepositoryBuilder::ArchiveEntry;
    qint64 size = 0;
    if (entry.type == Entry::File)
        size = entry.sourceFile.isEmpty() ? entry.data.size() : QFileInfo(entry.sourceFile).size();
    struct archive_entry *header = archive_entry_new();
    archive_entry_set_pathname_utf8(header, entry.path.toUtf8().constData());
    archive_entry_set_mtime(header, entry.time, 0);
    archive_entry_set_perm(header, mode_t(entry.permissions));
    archive_entry_set_filetype(header,
        entry.type == Entry::Directory     ? AE_IFDIR
            : entry.type == Entry::Symlink ? AE_IFLNK
                                           : AE_IFREG);
    if (entry.type == Entry::Symlink)
        archive_entry_set_symlink_utf8(header, entry.linkTarget.toUtf8().constData());
    archive_entry_set_size(header, size);
    bool ok = archive_write_header(archive, header) >= ARCHIVE_WARN;
    archive_entry_free(header);
    if (!ok) {
        *error = archiveError(archive);
        return false;
    }
    return entry.type != Entry::File || writeEntryData(archive, entry, size, error);
}

} // namespace

bool ZelManagerRepositoryBuilder::writeArchive(
    const QString &path, const QList<ArchiveEntry> &entries, Compression compression, QString *md5sum, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = tr("Can not write %1: %2").arg(path, file.errorString());
        return false;
    }
    WriteTarget target;
    target.file = &file;
    struct archive *archive = archive_write_new();
    bool ok = archive_write_set_format_pax_restricted(archive) == ARCHIVE_OK
        && (compression == Plain || archive_write_add_filter_lzma(archive) == ARCHIVE_OK)
        && archive_write_open(archive, &target, nullptr, writeCallback, nullptr) == ARCHIVE_OK;
    if (!ok)
        *error = archiveError(archive);
    for (int n = 0; ok && n < entries.size(); ++n)
        ok = writeEntry(archive, entries.at(n), error);
    if (archive_write_close(archive) != ARCHIVE_OK && ok) {
        *error = archiveError(archive);
        ok = false;
    }
    archive_write_free(archive);
    if (ok && !file.commit()) {
        *error = tr("Can not write %1: %2").arg(path, file.errorString());
        ok = false;
    }
    if (!ok) {
        file.cancelWriting();
        *error = tr("Can not write the archive %1: %2").arg(path, *error);
        return false;
    }
    if (md5sum)
        *md5sum = target.md5.calculateMd5Sum();
    return true;
}

bool ZelManagerRepositoryBuilder::readControlFile(const QString &archivePath, QByteArray *xml, QString *error)
{
    struct archive *archive = archive_read_new();
    archive_read_support_format_tar(archive);
    archive_read_support_filter_all(archive);
    bool found = false;
    if (archive_read_open_filename(archive, QFile::encodeName(archivePath).constData(), 65536) != ARCHIVE_OK) {
        *error = archiveError(archive);
        archive_read_free(archive);
        return false;
    }
    struct archive_entry *entry = nullptr;
    int result = ARCHIVE_OK;
    while (!found && (result = archive_read_next_header(archive, &entry)) == ARCHIVE_OK) {
        if (entryPath(entry) != QLatin1String("package.xml"))
            continue;
        const la_int64_t size = archive_entry_size(entry);
        xml->resize(int(qBound<la_int64_t>(0, size, 16 * 1024 * 1024)));
        found = archive_read_data(archive, xml->data(), size_t(xml->size())) == la_ssize_t(xml->size());
        if (!found)
            result = ARCHIVE_FATAL;
    }
    if (!found)
        *error = result == ARCHIVE_EOF ? tr("no package.xml in the archive") : archiveError(archive);
    archive_read_free(archive);
    return found;
}

QString ZelManagerRepositoryBuilder::fileMd5Sum(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    MMd5SumCalculator md5;
    QByteArray buffer(int(IoPiece), Qt::Uninitialized);
    qint64 got = 0;
    while ((got = file.read(buffer.data(), buffer.size())) > 0)
        md5.addData(buffer.constData(), got);
    return got < 0 ? QString() : md5.calculateMd5Sum();
}
