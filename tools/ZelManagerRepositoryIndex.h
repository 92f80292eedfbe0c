#ifndef ZELMANAGERREPOSITORYINDEX_H
#define ZELMANAGERREPOSITORYINDEX_H

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

class QXmlStreamWriter;

// A repository's "packages.xml" as the repository tool keeps it: read,
// changed one archive at a time, and written back atomically. Packages are
// written in name order; a package's maintainer, description and categories
// follow its newest build.
class ZelManagerRepositoryIndex
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerRepositoryIndex)

public:
    struct File
    {
        QString version;
        QString architecture; // "win32" or "win64"
        qint64 time = 0;
        QString md5sum;
        QStringList dependencies; // "name", or "name op version"
    };

    struct Package
    {
        QString name;
        QString maintainer;
        QString description;
        QStringList categories;
        QList<File> files;
    };

    // A missing file is an empty index; anything else that is not an index
    // fails, so that an update never overwrites what it could not read.
    bool load(const QString &path);
    bool save(const QString &path);
    QByteArray toXml() const;

    // Adds one build, replacing an earlier build of the same version and
    // architecture.
    void addFile(const Package &metadata, const File &file);
    void clear() { m_packages.clear(); }

    const QList<Package> &packages() const { return m_packages; }
    const Package *package(const QString &name) const;
    QString errorText() const { return m_errorText; }

    static QString normalizedArchitecture(const QString &architecture);
    // Writes carriage returns as character references: XML readers turn a
    // literal one into a line feed.
    static void writeTextElement(QXmlStreamWriter &writer, const QString &name, const QString &text);

private:
    bool parse(const QByteArray &data);

    QList<Package> m_packages;
    QString m_errorText;
};

#endif // ZELMANAGERREPOSITORYINDEX_H
