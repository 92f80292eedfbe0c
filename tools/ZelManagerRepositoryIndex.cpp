#include "tools/ZelManagerRepositoryIndex.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>

namespace {

QStringList readList(QXmlStreamReader &reader, const QString &itemName)
{
    QStringList items;
    while (reader.readNextStartElement()) {
        if (reader.name() == itemName)
            items.append(reader.readElementText());
        else
            reader.skipCurrentElement();
    }
    return items;
}

ZelManagerRepositoryIndex::File readFile(QXmlStreamReader &reader)
{
    ZelManagerRepositoryIndex::File file;
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == QLatin1String("version"))
            file.version = reader.readElementText();
        else if (name == QLatin1String("architecture"))
            file.architecture = ZelManagerRepositoryIndex::normalizedArchitecture(reader.readElementText());
        else if (name == QLatin1String("time"))
            file.time = reader.readElementText().trimmed().toLongLong();
        else if (name == QLatin1String("md5sum"))
            file.md5sum = reader.readElementText();
        else if (name == QLatin1String("dependency"))
            file.dependencies.append(reader.readElementText());
        else
            reader.skipCurrentElement();
    }
    return file;
}

ZelManagerRepositoryIndex::Package readPackage(QXmlStreamReader &reader)
{
    ZelManagerRepositoryIndex::Package package;
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == QLatin1String("name")) {
            package.name = reader.readElementText();
        } else if (name == QLatin1String("maintainer")) {
            package.maintainer = reader.readElementText();
        } else if (name == QLatin1String("description")) {
            package.description = reader.readElementText();
        } else if (name == QLatin1String("categories")) {
            package.categories = readList(reader, QStringLiteral("category"));
        } else if (name == QLatin1String("files")) {
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("file"))
                    package.files.append(readFile(reader));
                else
                    reader.skipCurrentElement();
            }
        } else {
            reader.skipCurrentElement();
        }
    }
    return package;
}

void writePackage(QXmlStreamWriter &writer, const ZelManagerRepositoryIndex::Package &package)
{
    writer.writeStartElement(QStringLiteral("package"));
    writer.writeTextElement(QStringLiteral("name"), package.name);
    ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("maintainer"), package.maintainer);
    ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("description"), package.description);
    writer.writeStartElement(QStringLiteral("categories"));
    for (const QString &category : package.categories)
        ZelManagerRepositoryIndex::writeTextElement(writer, QStringLiteral("category"), category);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("files"));
    for (const ZelManagerRepositoryIndex::File &file : package.files) {
        writer.writeStartElement(QStringLiteral("file"));
        writer.writeTextElement(QStringLiteral("version"), file.version);
        writer.writeTextElement(QStringLiteral("architecture"), file.architecture);
        writer.writeTextElement(QStringLiteral("time"), QString::number(file.time));
        writer.writeTextElement(QStringLiteral("md5sum"), file.md5sum);
        for (const QString &dependency : file.dependencies)
            writer.writeTextElement(QStringLiteral("dependency"), dependency);
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
}

} // namespace

void ZelManagerRepositoryIndex::writeTextElement(QXmlStreamWriter &writer, const QString &name, const QString &text)
{
    if (!text.contains(QLatin1Char('\r'))) {
        writer.writeTextElement(name, text);
        return;
    }
    writer.writeStartElement(name);
    const QStringList pieces = text.split(QLatin1Char('\r'));
    for (int n = 0; n < pieces.size(); ++n) {
        if (n > 0)
            writer.writeEntityReference(QStringLiteral("#13"));
        writer.writeCharacters(pieces.at(n));
    }
    writer.writeEndElement();
}

QString ZelManagerRepositoryIndex::normalizedArchitecture(const QString &architecture)
{
    if (architecture == QLatin1String("i386") || architecture == QLatin1String("i686"))
        return QStringLiteral("win32");
    if (architecture == QLatin1String("amd64") || architecture == QLatin1String("x86_64"))
        return QStringLiteral("win64");
    return architecture;
}

bool ZelManagerRepositoryIndex::load(const QString &path)
{
    m_packages.clear();
    m_errorText.clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_errorText = tr("Can not read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!parse(file.readAll())) {
        m_errorText = tr("%1 is not a repository index: %2").arg(path, m_errorText);
        m_packages.clear();
        return false;
    }
    return true;
}

bool ZelManagerRepositoryIndex::parse(const QByteArray &data)
{
    QXmlStreamReader reader(data);
    bool rootSeen = false;
    while (!reader.atEnd() && !rootSeen) {
        if (reader.readNext() == QXmlStreamReader::StartElement) {
            if (reader.name() != QLatin1String("vantor-packages"))
                break;
            rootSeen = true;
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("package"))
                    m_packages.append(readPackage(reader));
                else
                    reader.skipCurrentElement();
            }
        }
    }
    if (reader.hasError()) {
        m_errorText = tr("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        return false;
    }
    if (!rootSeen) {
        m_errorText = tr("no \"vantor-packages\" root element");
        return false;
    }
    return true;
}

QByteArray ZelManagerRepositoryIndex::toXml() const
{
    QList<const Package *> sorted;
    for (const Package &package : m_packages)
        sorted.append(&package);
    std::stable_sort(
        sorted.begin(), sorted.end(), [](const Package *a, const Package *b) { return a->name < b->name; });

    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("vantor-packages"));
    for (const Package *package : sorted)
        writePackage(writer, *package);
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

bool ZelManagerRepositoryIndex::save(const QString &path)
{
    m_errorText.clear();
    QSaveFile file(path);
    const QByteArray xml = toXml();
    if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size() || !file.commit()) {
        m_errorText = tr("Can not write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void ZelManagerRepositoryIndex::addFile(const Package &metadata, const File &file)
{
    auto package = std::find_if(m_packages.begin(), m_packages.end(),
        [&](const Package &candidate) { return candidate.name == metadata.name; });
    if (package == m_packages.end()) {
        Package added = metadata;
        added.files.clear();
        m_packages.append(added);
        package = m_packages.end() - 1;
    }
    bool newest = true;
    for (const File &existing : package->files)
        newest = newest && existing.time <= file.time;
    if (newest) {
        package->maintainer = metadata.maintainer;
        package->description = metadata.description;
        package->categories = metadata.categories;
    }
    for (File &existing : package->files) {
        if (existing.version == file.version && existing.architecture == file.architecture) {
            existing = file;
            return;
        }
    }
    package->files.append(file);
}

const ZelManagerRepositoryIndex::Package *ZelManagerRepositoryIndex::package(const QString &name) const
{
    for (const Package &candidate : m_packages) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}
