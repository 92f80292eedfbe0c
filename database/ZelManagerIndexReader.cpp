#include "database/ZelManagerIndexReader.h"

#include "database/ZelManagerIndexBatch.h"
#include "database/ZelManagerIndexScanner.h"
#include "database/ZelManagerPackage.h"

ZelManagerIndexReader::ZelManagerIndexReader(const QByteArray &data)
    : m_device(&m_buffer)
{
    m_buffer.setData(data);
    m_buffer.open(QIODevice::ReadOnly);
    m_xml.setDevice(m_device);
    m_start = 0;
}

ZelManagerIndexReader::ZelManagerIndexReader(QIODevice *device)
    : m_device(device)
    , m_xml(device)
    , m_start(device->pos())
{
}

ZelManagerIndexReader::~ZelManagerIndexReader() = default;

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
    const qint64 size = m_device ? m_device->size() : 0;
    if (m_state == Ended || size <= 0 || m_device->isSequential())
        return m_state == Ended ? 100 : 0;
    return int(qBound<qint64>(0, m_device->pos() * 100 / size, 100));
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
    while (!m_xml.atEnd())
        m_xml.readNext();
    if (m_xml.hasError())
        return fail();
    m_state = Ended;
    return false;
}

bool ZelManagerIndexReader::readPackage(ZelManagerIndexBatch &batch)
{
    if (m_scanning && !m_scanner) {
        m_scanning = !m_device->isSequential() && m_state == BeforeRoot;
        if (m_scanning)
            m_scanner.reset(new ZelManagerIndexScanner(m_device));
    }
    if (m_scanning) {
        switch (m_scanner->readPackage(batch)) {
        case ZelManagerIndexScanner::PackageRead:
            return true;
        case ZelManagerIndexScanner::Ended:
            m_state = Ended;
            return false;
        case ZelManagerIndexScanner::GaveUp:
            readWithXmlStream();
            break;
        }
    }
    if (!readPackage(m_package))
        return false;
    if (!m_package.name.isEmpty())
        batch.add(m_package);
    return true;
}

// From the start of the document, past the packages the scanner handed out.
void ZelManagerIndexReader::readWithXmlStream()
{
    const int handedOut = m_scanner->packagesRead();
    m_scanning = false;
    m_scanner.reset();
    if (!m_device->seek(m_start)) {
        m_state = Failed;
        m_errorText = tr("The repository index cannot be read again: %1").arg(m_device->errorString());
        return;
    }
    m_xml.setDevice(m_device);
    for (int package = 0; package < handedOut && readPackage(m_package); ++package) { }
}

// Only the XML declaration, comments and the like may come before the root
// element. Any other root (an error page of a web server, say) is refused
// at once, however large its body is.
bool ZelManagerIndexReader::findRoot()
{
    while (!m_xml.atEnd()) {
        if (m_xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (m_xml.name() == QLatin1String("vantor-packages")) {
            m_state = InRoot;
            return true;
        }
        m_state = Failed;
        m_errorText = tr("The file is not a repository index: its root element is \"%1\", not \"vantor-packages\".")
                          .arg(m_xml.name().toString());
        return false;
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
