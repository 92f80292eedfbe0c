#include "database/ZelManagerIndexReader.h"

#include "database/ZelManagerPackage.h"

ZelManagerIndexReader::ZelManagerIndexReader(const QByteArray &data)
    : m_xml(data)
    , m_size(data.size())
{
}

QString ZelManagerIndexReader::canonicalArchitecture(const QString &architecture)
{
    if (architecture == QLatin1String("i386"))
        return QStringLiteral("win32");
    if (architecture == QLatin1String("amd64"))
        return QStringLiteral("win64");
    return architecture;
}

int ZelManagerIndexReader::progress() const
{
    if (m_state == Ended || m_size <= 0)
        return 100;
    return int(qBound<qint64>(0, m_xml.characterOffset() * 100 / m_size, 100));
}

bool ZelManagerIndexReader::readPackage(Package &package)
{
    if (m_state == BeforeRoot && !findRoot())
        return false;
    if (m_state != InRoot)
        return false;
    while (m_xml.readNextStartElement()) {
        if (m_xml.name() != QLatin1String("package")) {
            m_xml.skipCurrentElement();
            continue;
        }
        package = Package();
        readFields(package);
        // A package cut short by an error is not handed out.
        return m_xml.hasError() ? fail() : true;
    }
    if (m_xml.hasError())
        return fail();
    m_state = Ended;
    return false;
}

// Whatever comes before the root element is ignored, at any depth.
bool ZelManagerIndexReader::findRoot()
{
    while (!m_xml.atEnd()) {
        if (m_xml.readNext() == QXmlStreamReader::StartElement && m_xml.name() == QLatin1String("vantor-packages")) {
            m_state = InRoot;
            return true;
        }
    }
    if (m_xml.hasError() && m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        return fail();
    m_state = Failed;
    m_errorText = tr("The file is not a repository index: it has no \"vantor-packages\" element.");
    return false;
}

void ZelManagerIndexReader::readFields(Package &package)
{
    while (m_xml.readNextStartElement()) {
        const QStringRef name = m_xml.name();
        if (name == QLatin1String("name"))
            package.name = text();
        else if (name == QLatin1String("maintainer"))
            package.maintainer = text();
        else if (name == QLatin1String("description"))
            package.description = text();
        else if (name == QLatin1String("categories"))
            readCategories(package.categories);
        else if (name == QLatin1String("files"))
            readFiles(package.files);
        else
            m_xml.skipCurrentElement();
    }
}

void ZelManagerIndexReader::readCategories(QStringList &categories)
{
    while (m_xml.readNextStartElement()) {
        if (m_xml.name() == QLatin1String("category"))
            categories.append(text());
        else
            m_xml.skipCurrentElement();
    }
}

void ZelManagerIndexReader::readFiles(QList<File> &files)
{
    while (m_xml.readNextStartElement()) {
        if (m_xml.name() == QLatin1String("file"))
            files.append(readFile());
        else
            m_xml.skipCurrentElement();
    }
}

ZelManagerIndexReader::File ZelManagerIndexReader::readFile()
{
    File file;
    while (m_xml.readNextStartElement()) {
        const QStringRef name = m_xml.name();
        if (name == QLatin1String("version"))
            file.version = text();
        else if (name == QLatin1String("architecture"))
            file.architecture = canonicalArchitecture(text());
        else if (name == QLatin1String("time"))
            file.time = text().trimmed().toLongLong();
        else if (name == QLatin1String("md5sum"))
            file.md5sum = text();
        else if (name == QLatin1String("dependency"))
            file.dependencies.append(splitDependency(text()));
        else
            m_xml.skipCurrentElement();
    }
    return file;
}

// Markup inside a text element (a newer tool's emphasis, say) is dropped
// rather than failing the whole index.
QString ZelManagerIndexReader::text()
{
    return m_xml.readElementText(QXmlStreamReader::SkipChildElements);
}

bool ZelManagerIndexReader::fail()
{
    m_state = Failed;
    m_errorText = tr("The repository index is malformed (line %1, column %2): %3")
                      .arg(m_xml.lineNumber())
                      .arg(m_xml.columnNumber())
                      .arg(m_xml.errorString());
    return false;
}
