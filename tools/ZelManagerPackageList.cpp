#include "tools/ZelManagerPackageList.h"

#include "database/ZelManagerDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ZelManagerPackageList", text);
}

} // namespace

QByteArray ZelManagerPackageList::document(QStringList names)
{
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    QByteArray data;
    QXmlStreamWriter writer(&data);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("packages"));
    for (const QString &name : qAsConst(names))
        writer.writeTextElement(QStringLiteral("package"), name);
    writer.writeEndElement();
    writer.writeEndDocument();
    return data;
}

QStringList ZelManagerPackageList::installedNames(const ZelManagerDatabase *database)
{
    QStringList names;
    const auto packages = database->packages();
    for (auto it = packages.constBegin(); it != packages.constEnd(); ++it) {
        if (it.value().isInstalled())
            names.append(it.key());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ZelManagerPackageList::exportTo(const QString &fileName, const ZelManagerDatabase *database)
{
    m_errorText.clear();
    const QByteArray data = document(installedNames(database));
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        m_errorText = tr("Can not open file for writing!") + QLatin1Char(' ') + QDir::toNativeSeparators(fileName);
        return false;
    }
    return true;
}

bool ZelManagerPackageList::read(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_names.clear();
        m_errorText = tr("Can not open file for reading!") + QLatin1Char(' ') + QDir::toNativeSeparators(fileName);
        return false;
    }
    return read(file.readAll());
}

bool ZelManagerPackageList::read(const QByteArray &data)
{
    m_names.clear();
    m_errorText.clear();
    QStringList names;
    QXmlStreamReader reader(data);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement || reader.name() != QLatin1String("package"))
            continue;
        const QString name = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    // A file cut short ends in an error too: nothing of it counts.
    if (reader.hasError()) {
        m_errorText = tr("The package selection is not valid (line %1, column %2): %3")
                          .arg(reader.lineNumber())
                          .arg(reader.columnNumber())
                          .arg(reader.errorString());
        return false;
    }
    m_names = names;
    return true;
}

void ZelManagerPackageList::compare(const ZelManagerDatabase *database)
{
    m_installList.clear();
    m_removeList.clear();
    m_unknownNames.clear();
    const auto packages = database->packages();
    QSet<QString> selected;
    QSet<QString> wanted;
    for (const QString &name : qAsConst(m_names)) {
        if (!packages.contains(name)) {
            m_unknownNames.append(name);
            continue;
        }
        selected.insert(name);
        wanted.insert(name);
        collectClosure(database, name, wanted);
    }
    for (auto it = packages.constBegin(); it != packages.constEnd(); ++it) {
        const bool installed = it.value().isInstalled();
        if (!installed && selected.contains(it.key()))
            m_installList.append(it.key());
        else if (installed && !wanted.contains(it.key()))
            m_removeList.append(it.key());
    }
    std::sort(m_installList.begin(), m_installList.end());
    std::sort(m_removeList.begin(), m_removeList.end());
}

// Every package that the newest version of name depends on, transitively.
void ZelManagerPackageList::collectClosure(
    const ZelManagerDatabase *database, const QString &name, QSet<QString> &closure)
{
    const ZelManagerPackage package = database->package(name);
    if (package.isNull())
        return;
    const PackageInfo info = database->packageEntry(name, package.availableVersion(), false);
    for (const QString &item : info.dependencies) {
        const QString dependency = splitDependency(item).first;
        if (dependency.isEmpty() || closure.contains(dependency))
            continue;
        closure.insert(dependency);
        collectClosure(database, dependency, closure);
    }
}
