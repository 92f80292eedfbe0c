#ifndef ZELMANAGERREPOSITORYBUILDER_H
#define ZELMANAGERREPOSITORYBUILDER_H

#include "tools/ZelManagerRepositoryIndex.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

// Builds package archives (".vtrpkg": a tar stream, plain or legacy LZMA,
// holding the control file "package.xml" first and then the package's tree)
// and keeps the repository's "packages.xml" in step. The command-line tool
// zelrepo is a thin front end; tests and the demo repository call it
// directly.
//
// A package source folder holds:
//   manifest              "key: value" lines (below)
//   preinst, postinst,    optional maintainer scripts, copied verbatim
//   prerm, postrm
//   files/                the tree to install, relative to the install folder
//
// Manifest keys: name, version, architecture ("win32" or "win64"; "i386",
// "i686", "amd64" and "x86_64" are accepted), maintainer, description, and
// optionally time (build time, seconds since the epoch; default now). The
// keys category, depends ("name", or "name op version" with op one of = < >
// <= >= !=) and nofix (a wildcard pattern of files exempt from path fix-up)
// may repeat. A line that starts with a blank continues the previous value on
// a new line ("." alone stands for an empty line); lines starting with "#"
// are comments.
class ZelManagerRepositoryBuilder
{
    Q_DECLARE_TR_FUNCTIONS(ZelManagerRepositoryBuilder)

public:
    enum Compression { Plain, Lzma };

    struct Manifest
    {
        QString name;
        QString version;
        QString architecture = QStringLiteral("win32");
        QString maintainer;
        QString description;
        QStringList categories;
        QStringList dependencies;
        QStringList nofix;
        QString preinst;
        QString postinst;
        QString prerm;
        QString postrm;
        qint64 time = 0; // 0: the time of the build
    };

    // One archive entry. Data comes from sourceFile when that is set.
    struct ArchiveEntry
    {
        enum Type { File, Directory, Symlink };

        ArchiveEntry() = default;
        ArchiveEntry(const QString &entryPath, const QByteArray &entryData)
            : path(entryPath)
            , data(entryData)
        {
        }

        QString path;
        Type type = File;
        QByteArray data;
        QString sourceFile;
        QString linkTarget;
        qint64 time = 0;
        int permissions = 0644;
    };

    void setCompression(Compression compression) { m_compression = compression; }
    Compression compression() const { return m_compression; }
    // Overrides the manifest's build time.
    void setTime(qint64 time) { m_time = time; }
    // Gives every entry this modification time instead of its file's, so
    // that the same sources always make the same archive.
    void setEntryTime(qint64 time) { m_entryTime = time; }
    // Writes entry paths with a leading "./", as some tar writers do.
    void setDotSlashPrefix(bool on) { m_dotSlash = on; }
    // When off, only the archive is written and "packages.xml" stays as it is.
    void setIndexUpdate(bool on) { m_indexUpdate = on; }

    bool buildPackage(const QString &sourceFolder, const QString &repositoryFolder);
    bool buildPackage(const Manifest &manifest, const QString &filesFolder, const QString &repositoryFolder);
    bool buildPackage(const Manifest &manifest, const QList<ArchiveEntry> &files, const QString &repositoryFolder);
    // Writes "packages.xml" anew from the archives in the folder.
    bool rebuildIndex(const QString &repositoryFolder);

    // Results of the last successful build.
    QString archivePath() const { return m_archivePath; }
    QString md5sum() const { return m_md5sum; }
    qint64 time() const { return m_builtTime; }
    QString errorText() const { return m_errorText; }

    static bool readManifest(const QString &sourceFolder, Manifest *manifest, QString *error);
    static bool validateManifest(Manifest *manifest, QString *error);
    // "<name>_<version>_<i686|amd64>.vtrpkg"
    static QString archiveFileName(const QString &name, const QString &version, const QString &architecture);
    static QByteArray controlFile(const Manifest &manifest);
    static bool parseControlFile(const QByteArray &xml, Manifest *manifest, QString *error);
    // Normalises a dependency to "name" or "name op version"; empty when malformed.
    static QString normalizedDependency(const QString &text);
    // Writes any entries, hostile ones included (tests need those too).
    static bool writeArchive(const QString &path, const QList<ArchiveEntry> &entries, Compression compression,
        QString *md5sum, QString *error);
    static bool readControlFile(const QString &archivePath, QByteArray *xml, QString *error);
    static QString fileMd5Sum(const QString &path);

private:
    bool fail(const QString &text);
    bool collectFiles(const QString &filesFolder, QList<ArchiveEntry> *entries);
    static void addToIndex(ZelManagerRepositoryIndex *index, const Manifest &manifest, const QString &md5sum);

    Compression m_compression = Plain;
    qint64 m_time = 0;
    qint64 m_entryTime = 0;
    bool m_dotSlash = false;
    bool m_indexUpdate = true;
    QString m_archivePath;
    QString m_md5sum;
    qint64 m_builtTime = 0;
    QString m_errorText;
};

#endif // ZELMANAGERREPOSITORYBUILDER_H
