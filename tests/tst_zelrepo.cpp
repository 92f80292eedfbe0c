#include "tests/support/TestSandbox.h"
#include "tools/ZelManagerRepositoryBuilder.h"
#include "tools/ZelManagerRepositoryIndex.h"

#include <QFile>
#include <QProcess>
#include <QXmlStreamReader>
#include <QtTest>
#include <archive.h>
#include <archive_entry.h>

namespace {

using Builder = ZelManagerRepositoryBuilder;

struct ReadEntry
{
    QString path;
    int type = 0;
    QByteArray data;
    qint64 time = 0;
};

struct ReadArchive
{
    bool ok = false;
    int filter = -1;
    QList<ReadEntry> entries;

    const ReadEntry *find(const QString &path) const
    {
        for (const ReadEntry &entry : entries) {
            if (entry.path == path)
                return &entry;
        }
        return nullptr;
    }
};

ReadArchive readArchive(const QString &path)
{
    ReadArchive result;
    struct archive *archive = archive_read_new();
    archive_read_support_format_tar(archive);
    archive_read_support_filter_lzma(archive);
    if (archive_read_open_filename(archive, QFile::encodeName(path).constData(), 10240) == ARCHIVE_OK) {
        struct archive_entry *header = nullptr;
        int status;
        while ((status = archive_read_next_header(archive, &header)) == ARCHIVE_OK) {
            ReadEntry entry;
            entry.path = QString::fromUtf8(archive_entry_pathname_utf8(header));
            entry.type = int(archive_entry_filetype(header));
            entry.time = archive_entry_mtime(header);
            entry.data.resize(int(archive_entry_size(header)));
            if (archive_read_data(archive, entry.data.data(), size_t(entry.data.size())) != entry.data.size())
                break;
            result.entries.append(entry);
        }
        result.filter = archive_filter_code(archive, 0);
        result.ok = status == ARCHIVE_EOF;
    }
    archive_read_free(archive);
    return result;
}

QString md5sumTool(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("md5sum"), { path });
    process.waitForFinished();
    return QString::fromLatin1(process.readAllStandardOutput().left(32));
}

QString manifestText(const QString &name, const QString &version, const QString &extra = QString())
{
    return QStringLiteral("# a comment\nname: %1\nversion: %2\narchitecture: i386\n"
                          "maintainer: Jane Roe <jane@example.org>\n"
                          "description: Jane's \"tools\" & more\n second line\n .\n third\n"
                          "category: Libraries\ncategory: Development/Tools\n"
                          "depends: bar>=1.0\ndepends:   baz  \ndepends: qux != 2.0-1~rc1\n"
                          "nofix: share/doc/*\nnofix: bin/*.dll\n%3")
        .arg(name, version, extra);
}

} // namespace

class TestZelRepo : public QObject
{
    Q_OBJECT

private:
    QString source(const QString &name = QStringLiteral("src")) const { return m_sandbox->path() + '/' + name; }
    QString repo() const { return m_sandbox->path() + QStringLiteral("/repo"); }

    void writeSource(const QString &folder, const QString &manifest)
    {
        QVERIFY(TestSandbox::writeFile(folder + QStringLiteral("/manifest"), manifest.toUtf8()));
        QVERIFY(TestSandbox::writeFile(folder + QStringLiteral("/postinst"), "print(\"<done> & 'ok'\");\r\n"));
        QVERIFY(TestSandbox::writeFile(folder + QStringLiteral("/prerm"), "remove();\n"));
        QVERIFY(TestSandbox::writeFile(folder + QStringLiteral("/files/bin/a.dll"), QByteArray("MZ\0\x01", 4)));
        QVERIFY(TestSandbox::writeFile(folder + QStringLiteral("/files/share/doc/foo/README"), "read me\n"));
        QVERIFY(TestSandbox::writeFile(folder + QString::fromUtf8("/files/share/info/f\xc3\xbc.info"), "info\n"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/files/var/empty")));
    }

    ZelManagerRepositoryIndex loadIndex()
    {
        ZelManagerRepositoryIndex index;
        if (!index.load(repo() + QStringLiteral("/packages.xml")))
            qWarning("%s", qPrintable(index.errorText()));
        return index;
    }

private slots:
    void init() { m_sandbox.reset(new TestSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void buildsArchiveFromSourceFolder_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<bool>("dotSlash");
        QTest::newRow("plain") << int(Builder::Plain) << false;
        QTest::newRow("lzma") << int(Builder::Lzma) << false;
        QTest::newRow("plain ./") << int(Builder::Plain) << true;
    }

    void buildsArchiveFromSourceFolder()
    {
        QFETCH(int, compression);
        QFETCH(bool, dotSlash);
        writeSource(source(), manifestText(QStringLiteral("foo"), QStringLiteral("1.0-1")));
        Builder builder;
        builder.setCompression(Builder::Compression(compression));
        builder.setDotSlashPrefix(dotSlash);
        builder.setTime(1700000000);
        QVERIFY2(builder.buildPackage(source(), repo()), qPrintable(builder.errorText()));
        QCOMPARE(builder.archivePath(), repo() + QStringLiteral("/foo_1.0-1_i686.vtrpkg"));

        const ReadArchive archive = readArchive(builder.archivePath());
        QVERIFY(archive.ok);
        QCOMPARE(archive.filter, compression == Builder::Lzma ? ARCHIVE_FILTER_LZMA : ARCHIVE_FILTER_NONE);
        const QString prefix = dotSlash ? QStringLiteral("./") : QString();
        QStringList files, folders;
        for (const ReadEntry &entry : archive.entries)
            (entry.type == AE_IFDIR ? folders : files).append(entry.path);
        QCOMPARE(files,
            QStringList({ prefix + "package.xml", prefix + "bin/a.dll", prefix + "share/doc/foo/README",
                prefix + QString::fromUtf8("share/info/f\xc3\xbc.info") }));
        QVERIFY(folders.contains(prefix + QStringLiteral("var/empty/")) || folders.contains(prefix + "var/empty"));

        const ReadEntry *dll = archive.find(prefix + QStringLiteral("bin/a.dll"));
        QCOMPARE(dll->data, QByteArray("MZ\0\x01", 4));
        QCOMPARE(dll->time, QFileInfo(source() + QStringLiteral("/files/bin/a.dll")).lastModified().toSecsSinceEpoch());

        // The control file as the downloader reads it: scripts and nofix
        // patterns directly below the "package" root.
        QXmlStreamReader reader(archive.entries.first().data);
        QVERIFY(reader.readNextStartElement());
        QCOMPARE(reader.name().toString(), QStringLiteral("package"));
        QMap<QString, QStringList> children;
        while (reader.readNextStartElement()) {
            const QString name = reader.name().toString();
            if (name == QLatin1String("categories"))
                reader.skipCurrentElement();
            else
                children[name].append(reader.readElementText());
        }
        QVERIFY(!reader.hasError());
        QCOMPARE(children.value("postinst"), QStringList("print(\"<done> & 'ok'\");\r\n"));
        QVERIFY(!children.contains("preinst") && !children.contains("postrm"));
        QCOMPARE(children.value("nofix"), QStringList({ "share/doc/*", "bin/*.dll" }));
        QCOMPARE(children.value("time"), QStringList("1700000000"));

        // The index entry describes the archive, in the element forms the
        // repository updater reads.
        QCOMPARE(builder.md5sum(), md5sumTool(builder.archivePath()));
        const ZelManagerRepositoryIndex index = loadIndex();
        const ZelManagerRepositoryIndex::Package &package = index.packages().first();
        QCOMPARE(package.maintainer, QStringLiteral("Jane Roe <jane@example.org>"));
        QCOMPARE(package.description, QStringLiteral("Jane's \"tools\" & more\nsecond line\n\nthird"));
        QCOMPARE(package.categories, QStringList({ "Libraries", "Development/Tools" }));
        const ZelManagerRepositoryIndex::File &file = package.files.first();
        QCOMPARE(file.architecture, QStringLiteral("win32"));
        QCOMPARE(file.time, 1700000000);
        QCOMPARE(file.md5sum, builder.md5sum());
        QCOMPARE(file.dependencies, QStringList({ "bar >= 1.0", "baz", "qux != 2.0-1~rc1" }));
        const QString xml = TestSandbox::readFile(repo() + QStringLiteral("/packages.xml"));
        QVERIFY(xml.contains("<vantor-packages>") && xml.contains("<dependency>bar &gt;= 1.0</dependency>"));
    }

    // Versions join one entry; rebuilding a version replaces its file and
    // keeps the newer version's metadata; the index command gives the same
    // index from the archives alone and refuses an archive under a wrong name.
    void indexFollowsVersionsAndArchives()
    {
        writeSource(source(), manifestText(QStringLiteral("foo"), QStringLiteral("1.0-1")));
        writeSource(source("src2"),
            manifestText(QStringLiteral("foo"), QStringLiteral("2.0"))
                .replace(QStringLiteral("Jane Roe"), QStringLiteral("Max Mustermann"))
                .replace(QStringLiteral("i386"), QStringLiteral("win64")));
        writeSource(source("src3"), manifestText(QStringLiteral("aaa"), QStringLiteral("0.1")));
        Builder builder;
        builder.setTime(100);
        QVERIFY(builder.buildPackage(source(), repo()));
        builder.setTime(200);
        QVERIFY(builder.buildPackage(source("src2"), repo()));
        QCOMPARE(builder.archivePath(), repo() + QStringLiteral("/foo_2.0_amd64.vtrpkg"));
        QVERIFY(builder.buildPackage(source("src3"), repo()));
        builder.setTime(150);
        builder.setCompression(Builder::Lzma);
        QVERIFY(builder.buildPackage(source(), repo()));

        const ZelManagerRepositoryIndex index = loadIndex();
        QCOMPARE(index.packages().size(), 2);
        const ZelManagerRepositoryIndex::Package *foo = index.package(QStringLiteral("foo"));
        QCOMPARE(foo->maintainer, QStringLiteral("Max Mustermann <jane@example.org>"));
        QCOMPARE(foo->files.size(), 2);
        QCOMPARE(foo->files.at(0).time, 150);
        QCOMPARE(foo->files.at(0).md5sum, md5sumTool(repo() + QStringLiteral("/foo_1.0-1_i686.vtrpkg")));
        QCOMPARE(foo->files.at(1).version, QStringLiteral("2.0"));

        const QByteArray incremental = index.toXml();
        QVERIFY(QFile::remove(repo() + QStringLiteral("/packages.xml")));
        QVERIFY2(builder.rebuildIndex(repo()), qPrintable(builder.errorText()));
        QCOMPARE(loadIndex().toXml(), incremental);

        QVERIFY(QFile::remove(repo() + QStringLiteral("/foo_1.0-1_i686.vtrpkg")));
        QVERIFY(builder.rebuildIndex(repo()));
        QCOMPARE(loadIndex().package(QStringLiteral("foo"))->files.size(), 1);

        QVERIFY(QFile::rename(
            repo() + QStringLiteral("/foo_2.0_amd64.vtrpkg"), repo() + QStringLiteral("/foo_2.0_i686.vtrpkg")));
        QVERIFY(!builder.rebuildIndex(repo()));
        QVERIFY(builder.errorText().contains(QStringLiteral("foo_2.0_amd64.vtrpkg")));
        QCOMPARE(loadIndex().package(QStringLiteral("foo"))->files.size(), 1);
    }

    void refusesBadManifests_data()
    {
        QTest::addColumn<QString>("manifest");
        QTest::addColumn<QString>("message");
        const QString good = manifestText(QStringLiteral("foo"), QStringLiteral("1.0"));
        QTest::newRow("no name") << QString(good).replace("name: foo\n", "") << "not a valid package name";
        QTest::newRow("climbing name") << manifestText("../foo", "1.0") << "not a valid package name";
        QTest::newRow("slash in version") << manifestText("foo", "1.0/x") << "not a valid version";
        QTest::newRow("bad operator") << good + "depends: bar >> 1.0\n"
                                      << "is not a dependency";
        QTest::newRow("operator only") << good + "depends: >= 1.0\n"
                                       << "is not a dependency";
        QTest::newRow("unknown key") << good + "homepage: x\n"
                                     << "unknown key \"homepage\"";
        QTest::newRow("continuation") << good + " more\n"
                                      << "only the description may continue";
        QTest::newRow("architecture") << QString(good).replace("i386", "arm") << "not an architecture";
        QTest::newRow("control character") << QString(good).replace("Jane Roe", "Jane\x01Roe") << "control character";
    }

    void refusesBadManifests()
    {
        QFETCH(QString, manifest);
        QFETCH(QString, message);
        writeSource(source(), manifest);
        Builder builder;
        QVERIFY(!builder.buildPackage(source(), repo()));
        QVERIFY2(builder.errorText().contains(message), qPrintable(builder.errorText()));
        QVERIFY(!QFileInfo::exists(repo()));
    }

    void refusesBadTreesAndKeepsTheIndex()
    {
        writeSource(source(), manifestText(QStringLiteral("foo"), QStringLiteral("1.0")));
        Builder builder;
        QVERIFY(TestSandbox::writeFile(source() + QStringLiteral("/files/package.xml"), "<package/>"));
        QVERIFY(!builder.buildPackage(source(), repo()));
        QVERIFY(builder.errorText().contains(QStringLiteral("control file")));
        QVERIFY(QFile::remove(source() + QStringLiteral("/files/package.xml")));

        QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), source() + QStringLiteral("/files/bin/link")));
        QVERIFY(!builder.buildPackage(source(), repo()));
        QVERIFY(builder.errorText().contains(QStringLiteral("symbolic link")));
        QVERIFY(QFile::remove(source() + QStringLiteral("/files/bin/link")));

        Builder::Manifest manifest;
        manifest.name = QStringLiteral("foo");
        manifest.version = QStringLiteral("1.0");
        for (const char *path : { "../evil", "/etc/evil", "a/../../evil", "package.xml", "a//b", "c:/x" }) {
            QVERIFY(!builder.buildPackage(manifest, { Builder::ArchiveEntry(QString::fromUtf8(path), "x") }, repo()));
            QVERIFY2(builder.errorText().contains(QStringLiteral("can not be a path")), path);
        }

        // An index that can not be read is neither overwritten nor joined by
        // a new archive.
        QVERIFY(TestSandbox::writeFile(repo() + QStringLiteral("/packages.xml"), "<vantor-packages><package>"));
        QVERIFY(!builder.buildPackage(source(), repo()));
        QVERIFY(builder.errorText().contains(QStringLiteral("not a repository index")));
        QCOMPARE(TestSandbox::readFile(repo() + QStringLiteral("/packages.xml")),
            QStringLiteral("<vantor-packages><package>"));
        QVERIFY(!QFileInfo::exists(repo() + QStringLiteral("/foo_1.0_i686.vtrpkg")));
        QVERIFY(TestSandbox::writeFile(repo() + QStringLiteral("/packages.xml"), "<other/>"));
        QVERIFY(!builder.buildPackage(source(), repo()));
    }

    void writeArchiveKeepsHostileEntries()
    {
        // Other tests build damaged and hostile archives this way.
        Builder::ArchiveEntry link(QStringLiteral("bin/link"), QByteArray());
        link.type = Builder::ArchiveEntry::Symlink;
        link.linkTarget = QStringLiteral("../../outside");
        const QList<Builder::ArchiveEntry> entries { { "./package.xml", "<package/>" }, { "../evil.dll", "evil" },
            { "/abs/evil.dll", "evil" }, link };
        const QString path = m_sandbox->path() + QStringLiteral("/hostile.vtrpkg");
        QString md5, error;
        QVERIFY2(Builder::writeArchive(path, entries, Builder::Lzma, &md5, &error), qPrintable(error));
        QCOMPARE(md5, md5sumTool(path));
        const ReadArchive archive = readArchive(path);
        QVERIFY(archive.ok);
        QCOMPARE(archive.entries.size(), 4);
        QCOMPARE(archive.entries.at(1).path, QStringLiteral("../evil.dll"));
        QCOMPARE(archive.entries.at(2).path, QStringLiteral("/abs/evil.dll"));
        QCOMPARE(archive.entries.at(3).type, int(AE_IFLNK));

        QByteArray xml;
        QVERIFY(Builder::readControlFile(path, &xml, &error));
        QCOMPARE(xml, QByteArray("<package/>"));
    }

    void commandLine()
    {
        const QString tool = QStringLiteral(ZEL_BINARY_DIR "/zelrepo");
        writeSource(source(), manifestText(QStringLiteral("foo"), QStringLiteral("1.0-1")));
        QProcess process;
        process.start(tool, { "build", source(), repo(), "--lzma", "--time", "1234" });
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        const QString archive = repo() + QStringLiteral("/foo_1.0-1_i686.vtrpkg");
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
            archive + ' ' + md5sumTool(archive) + QStringLiteral(" 1234"));
        QCOMPARE(readArchive(archive).filter, ARCHIVE_FILTER_LZMA);

        process.start(tool, { "index", repo() });
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);

        process.start(tool, { "build", source() });
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 2);
        process.start(tool, { "build", source(), repo(), "--mtime", "x" });
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 2);
        process.start(tool, { "build", m_sandbox->path() + "/missing", repo() });
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("missing/manifest"));
    }

    // With fixed build and entry times the same sources give the same
    // archive, byte for byte, whenever their files were written.
    void fixedTimesMakeReproducibleArchives()
    {
        const QString tool = QStringLiteral(ZEL_BINARY_DIR "/zelrepo");
        const QStringList fixed { "--no-index", "--time", "1600000000", "--mtime", "1600000000" };
        writeSource(source(), manifestText(QStringLiteral("foo"), QStringLiteral("1.0-1")));
        QProcess process;
        process.start(tool, QStringList { "build", source(), repo() + "/a" } + fixed);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        const QString file = source() + QStringLiteral("/files/share/doc/foo/README");
        QFile readme(file);
        QVERIFY(readme.open(QIODevice::ReadWrite));
        QVERIFY(readme.setFileTime(QDateTime::fromSecsSinceEpoch(1700000000), QFileDevice::FileModificationTime));
        readme.close();
        process.start(tool, QStringList { "build", source(), repo() + "/b" } + fixed);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        const QString archive = QStringLiteral("/foo_1.0-1_i686.vtrpkg");
        QCOMPARE(md5sumTool(repo() + "/a" + archive), md5sumTool(repo() + "/b" + archive));
        QVERIFY(!QFileInfo::exists(repo() + "/a/packages.xml"));
        const ReadArchive read = readArchive(repo() + "/a" + archive);
        const ReadEntry *entry = read.find(QStringLiteral("share/doc/foo/README"));
        QVERIFY(entry);
        QCOMPARE(entry->time, qint64(1600000000));
    }

private:
    QScopedPointer<TestSandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestZelRepo)
#include "tst_zelrepo.moc"
