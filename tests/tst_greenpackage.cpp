#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "tools/ZelManagerGreenPackage.h"
#include "tools/ZelManagerGreenPackageWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

using Entry = TestApplyFixture::Entry;

namespace {

struct ZipEntry
{
    QString name;
    bool folder = false;
    QByteArray data;
    int permissions = 0;
    qint64 modified = 0;
};

QList<ZipEntry> readZip(const QString &fileName)
{
    QList<ZipEntry> entries;
    struct archive *archive = archive_read_new();
    archive_read_support_format_zip(archive);
    if (archive_read_open_filename(archive, QFile::encodeName(fileName).constData(), 65536) == ARCHIVE_OK) {
        struct archive_entry *header = nullptr;
        while (archive_read_next_header(archive, &header) == ARCHIVE_OK) {
            ZipEntry entry;
            entry.name = QString::fromUtf8(archive_entry_pathname_utf8(header));
            if (entry.name.endsWith(QLatin1Char('/')))
                entry.name.chop(1);
            entry.folder = archive_entry_filetype(header) == AE_IFDIR;
            entry.permissions = int(archive_entry_perm(header));
            entry.modified = qint64(archive_entry_mtime(header));
            char buffer[8192];
            la_ssize_t size;
            while ((size = archive_read_data(archive, buffer, sizeof buffer)) > 0)
                entry.data.append(buffer, int(size));
            entries.append(entry);
        }
    }
    archive_read_free(archive);
    return entries;
}

// Unpacks with permissions and times, as an unzip program would.
bool unpackZip(const QString &fileName, const QString &folder)
{
    struct archive *archive = archive_read_new();
    archive_read_support_format_zip(archive);
    struct archive *disk = archive_write_disk_new();
    archive_write_disk_set_options(disk, ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME);
    bool ok = archive_read_open_filename(archive, QFile::encodeName(fileName).constData(), 65536) == ARCHIVE_OK;
    struct archive_entry *header = nullptr;
    while (ok && archive_read_next_header(archive, &header) == ARCHIVE_OK) {
        const QString path = folder + QLatin1Char('/') + QString::fromUtf8(archive_entry_pathname_utf8(header));
        archive_entry_copy_pathname(header, QFile::encodeName(path).constData());
        ok = archive_write_header(disk, header) == ARCHIVE_OK;
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        while (ok && archive_read_data_block(archive, &block, &size, &offset) == ARCHIVE_OK)
            ok = archive_write_data_block(disk, block, size, offset) == ARCHIVE_OK;
        ok = ok && archive_write_finish_entry(disk) == ARCHIVE_OK;
    }
    archive_write_free(disk);
    archive_read_free(archive);
    return ok;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QMap<QString, QByteArray> tree(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), readBytes(path));
    }
    return files;
}

struct ZelfixResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ZelfixResult runZelfix(const QString &folder, const QString &oldFolder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(folder + QStringLiteral("/bin/zelfix.exe"), { oldFolder });
    ZelfixResult result;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// The machine field of a PE image, 0 when the file is none.
quint16 peMachine(const QString &path)
{
    const QByteArray data = readBytes(path);
    if (data.size() < 0x40 || !data.startsWith("MZ"))
        return 0;
    const quint32 offset = qFromLittleEndian<quint32>(data.constData() + 0x3c);
    if (data.size() < qint64(offset) + 6 || data.mid(int(offset), 4) != QByteArray("PE\0\0", 4))
        return 0;
    return qFromLittleEndian<quint16>(data.constData() + offset + 4);
}

} // namespace

class TestGreenPackage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void packageSetReadmeAndTool();
    void writerReplacesTargetOnlyWhenComplete();
    void unpackedPackageIsFixedByZelfix();
    void windowsToolsArePeImages();

private:
    bool offer(
        const QString &name, const QStringList &dependencies, const QList<Entry> &files, const QStringList &nofix = {});
    bool install(const QString &name);

    std::unique_ptr<TestApplyFixture> m_fixture;
};

void TestGreenPackage::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
}

void TestGreenPackage::cleanup()
{
    m_fixture.reset();
}

bool TestGreenPackage::offer(
    const QString &name, const QStringList &dependencies, const QList<Entry> &files, const QStringList &nofix)
{
    auto manifest = TestApplyFixture::manifest(name, QStringLiteral("1.0"), dependencies);
    manifest.nofix = nofix;
    if (!m_fixture->addPackage(manifest, files) || !m_fixture->updateIndex()) {
        qWarning() << m_fixture->errorText();
        return false;
    }
    return true;
}

bool TestGreenPackage::install(const QString &name)
{
    if (!m_fixture->request(name, TestApplyFixture::Install).isEmpty())
        return false;
    ZelManagerApplyRun run;
    return run.exec();
}

void TestGreenPackage::packageSetReadmeAndTool()
{
    QVERIFY(offer(QStringLiteral("c"), {}, { Entry(QStringLiteral("c.txt"), "c") }));
    QVERIFY(offer(QStringLiteral("b"), { QStringLiteral("c >= 1.0") }, { Entry(QStringLiteral("b.txt"), "b") }));
    QVERIFY(offer(QStringLiteral("a"), { QStringLiteral("b") }, { Entry(QStringLiteral("a.txt"), "a") }));
    QVERIFY(offer(QStringLiteral("d"), { QStringLiteral("c") }, { Entry(QStringLiteral("d.txt"), "d") }));
    QVERIFY(install(QStringLiteral("a")));
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    ZelManagerGreenPackage generator(m_fixture->database(), settings);
    QCOMPARE(generator.packageSet({ QStringLiteral("d"), QStringLiteral("a") }),
        QStringList({ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d") }));

    QCOMPARE(generator.readme({ QStringLiteral("a"), QStringLiteral("b") }),
        QStringLiteral(
            "README FIRST\n============\n\nThis is a green package! You can extract contents of this file to a "
            "folder in the root directory of a drive. The folder name must not be longer than 18. After "
            "that, in the folder, run following command:\n  bin/zelfix.exe ")
            + settings->targetPath()
            + QStringLiteral("\nThis command will fix all files to fit new folder. Then the package is ready to use."
                             "\n\nPACKAGE LIST\n============\n * a\n * b\n"));

    QTemporaryDir tools;
    generator.setFixupToolFolder(tools.path());
    QVERIFY(generator.fixupToolProblem().contains(QStringLiteral("zelfix-32.exe")));
    QVERIFY(TestSandbox::writeFile(tools.path() + QStringLiteral("/zelfix-32.exe"), "MZ"));
    QCOMPARE(generator.fixupToolProblem(), QString());

    settings->setArchitecture(QStringLiteral("win64"));
    QVERIFY(generator.readme({}).contains(QStringLiteral("must not be longer than 20. ")));
    QVERIFY(generator.readme({}).contains(QStringLiteral("bin/zelfix.exe ") + settings->installPath() + "/win64\n"));
    QCOMPARE(generator.fixupToolPath(), tools.path() + QStringLiteral("/zelfix-x64.exe"));
    QVERIFY(!generator.fixupToolProblem().isEmpty());
    settings->setArchitecture(QStringLiteral("win32"));
}

void TestGreenPackage::writerReplacesTargetOnlyWhenComplete()
{
    const QString folder = m_fixture->sandbox().path() + QStringLiteral("/out");
    const QString target = folder + QStringLiteral("/green.zip");
    const QString big = folder + QStringLiteral("/big.bin");
    QVERIFY(TestSandbox::writeFile(target, "previous archive"));
    QVERIFY(TestSandbox::writeFile(big, QByteArray(100000, 'b')));
    ZelManagerGreenPackageWriter::Entry file;
    file.name = QStringLiteral("big.bin");
    file.sourcePath = big;

    // The file shrinks while it is copied: no archive, the old one stays.
    ZelManagerGreenPackageWriter writer;
    writer.setBlockDone([&big] { QFile(big).resize(10); });
    QVERIFY(!writer.write(target, { file }));
    QVERIFY2(writer.errorText().startsWith(QStringLiteral("Can not read file: ")), qPrintable(writer.errorText()));
    QCOMPARE(readBytes(target), QByteArray("previous archive"));
    QCOMPARE(
        QDir(folder).entryList(QDir::Files), QStringList({ QStringLiteral("big.bin"), QStringLiteral("green.zip") }));

    // A file that is gone is left out; the rest replaces the old archive.
    ZelManagerGreenPackageWriter::Entry gone;
    gone.name = QStringLiteral("gone.txt");
    gone.sourcePath = folder + QStringLiteral("/gone.txt");
    ZelManagerGreenPackageWriter complete;
    QVERIFY(complete.write(target, { file, gone }));
    QCOMPARE(complete.skippedFiles(), QStringList { "gone.txt" });
    const QList<ZipEntry> entries = readZip(target);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).data, QByteArray(10, 'b'));

    ZelManagerGreenPackageWriter nowhere;
    QVERIFY(!nowhere.write(folder + QStringLiteral("/missing/green.zip"), { file }));
    QCOMPARE(nowhere.errorText(), QStringLiteral("Can not open package file!"));
}

// Install from the served repository, generate, unpack elsewhere and run
// the packed tool there as a user would: fix-enabled files name the new
// folder with the installer's padding, excluded files stay as they were,
// and a second run changes nothing.
void TestGreenPackage::unpackedPackageIsFixedByZelfix()
{
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    const QByteArray root = settings->toolchainRoot().toUtf8();
    const QByteArray target = settings->targetPath().toUtf8();
    QVERIFY(offer(QStringLiteral("base"), {}, { Entry(QStringLiteral("lib/base.txt"), root + "/lib/base\n") }));
    QVERIFY(offer(QStringLiteral("tool"), { QStringLiteral("base") },
        {
            Entry(QStringLiteral("bin/tool.cfg"), "home=" + root + "/share/tool\nend\n"),
            Entry(QStringLiteral("lib/tool.dll"), QByteArray("MZ\0", 3) + root + QByteArray("/lib/plugins\0more", 17)),
            Entry(QStringLiteral("share/icons/hicolor/tool.theme"), root + "/icons\n"),
            Entry(QStringLiteral("doc/tool.png"), root + "\n"),
            Entry(QStringLiteral("bin/raw.dat"), target + "/raw\n"),
        },
        { QStringLiteral("bin/raw.dat") }));
    QVERIFY(install(QStringLiteral("tool")));

    const QDateTime modified = QDateTime::fromSecsSinceEpoch(1600000000);
    {
        QFile file(m_fixture->file(QStringLiteral("bin/tool.cfg")));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    // The native build of the tool stands in for the Windows one.
    QTemporaryDir tools;
    QVERIFY(QFile::copy(QStringLiteral(ZEL_ZELFIX_PROGRAM), tools.path() + QStringLiteral("/zelfix-32.exe")));
    ZelManagerGreenPackage generator(m_fixture->database(), settings);
    generator.setFixupToolFolder(tools.path());
    const QStringList set = generator.packageSet({ QStringLiteral("tool") });
    QCOMPARE(set, QStringList({ QStringLiteral("base"), QStringLiteral("tool") }));
    const QString zip = m_fixture->sandbox().path() + QStringLiteral("/green.zip");
    ZelManagerGreenPackageWriter writer;
    QStringList progress;
    writer.setFileProgress([&progress](int index, int count, const QString &name) {
        progress.append(QStringLiteral("%1/%2 %3").arg(index).arg(count).arg(name));
    });
    QVERIFY2(writer.write(zip, generator.entries(set)), qPrintable(writer.errorText()));

    const QList<ZipEntry> entries = readZip(zip);
    QStringList names;
    for (const ZipEntry &entry : entries)
        names.append((entry.folder ? QStringLiteral("d ") : QStringLiteral("f ")) + entry.name);
    QCOMPARE(names,
        QStringList({ "d bin", "d doc", "d etc", "d lib", "d share", "d share/icons", "d share/icons/hicolor",
            "f bin/raw.dat", "f bin/tool.cfg", "f bin/zelfix.exe", "f doc/tool.png", "f etc/zelfixrc", "f lib/base.txt",
            "f lib/tool.dll", "f readme.txt", "f share/icons/hicolor/tool.theme" }));
    QCOMPARE(progress.value(0), QStringLiteral("0/9 bin/raw.dat"));
    QCOMPARE(progress.size(), 9);
    QCOMPARE(entries.at(9).permissions,
        ZelManagerGreenPackageWriter::unixPermissions(int(QFileInfo(generator.fixupToolPath()).permissions())));
    QVERIFY(entries.at(9).permissions & 0100);
    QCOMPARE(entries.at(8).modified, modified.toSecsSinceEpoch());
    QCOMPARE(entries.at(11).data, settings->fixConfigurationText());
    QVERIFY(entries.at(11).data.contains("\n[exclude-files]\n0=bin/raw.dat\n"));

    QTemporaryDir unpacked(QDir::tempPath() + QStringLiteral("/g-XXXXXX"));
    const QByteArray newFolder = unpacked.path().toUtf8();
    QVERIFY(newFolder.size() < target.size());
    QVERIFY(unpackZip(zip, unpacked.path()));
    const QMap<QString, QByteArray> before = tree(unpacked.path());

    const ZelfixResult first = runZelfix(unpacked.path(), settings->targetPath());
    QVERIFY2(first.exitCode == 0, first.err.constData());
    QVERIFY2(first.out.contains("fixed bin/tool.cfg (1 path)"), first.out.constData());
    const QString folder = unpacked.path() + QLatin1Char('/');
    QCOMPARE(readBytes(folder + "bin/tool.cfg"),
        "home=" + newFolder + "/share/tool" + QByteArray(root.size() - newFolder.size(), ' ') + "\nend\n");
    QCOMPARE(readBytes(folder + "lib/tool.dll"),
        QByteArray("MZ\0", 3) + newFolder + "/lib/plugins" + QByteArray(root.size() - newFolder.size() + 1, '\0')
            + "more");
    QCOMPARE(readBytes(folder + "lib/base.txt"),
        newFolder + "/lib/base" + QByteArray(root.size() - newFolder.size(), ' ') + "\n");
    for (const QString &excluded : { "bin/raw.dat", "doc/tool.png", "share/icons/hicolor/tool.theme" }) {
        QCOMPARE(readBytes(folder + excluded), before.value(excluded));
        QCOMPARE(readBytes(folder + excluded), readBytes(m_fixture->file(excluded)));
    }
    QVERIFY(readBytes(folder + "readme.txt").contains("  bin/zelfix.exe " + newFolder + " "));
    QVERIFY(readBytes(folder + "etc/zelfixrc").startsWith("[settings]\nprefix=" + newFolder + "\n"));

    const QMap<QString, QByteArray> fixed = tree(unpacked.path());
    const ZelfixResult second = runZelfix(unpacked.path(), settings->targetPath());
    QCOMPARE(second.exitCode, 0);
    QVERIFY2(second.out.contains("0 files fixed"), second.out.constData());
    QVERIFY(tree(unpacked.path()) == fixed);
}

void TestGreenPackage::windowsToolsArePeImages()
{
    const QString folder = QStringLiteral(ZEL_BINARY_DIR);
    if (!QFileInfo::exists(folder + QStringLiteral("/zelfix-32.exe"))
        || !QFileInfo::exists(folder + QStringLiteral("/zelfix-x64.exe")))
        QSKIP("The mingw-w64 cross compilers were missing at configure time (scripts/setup.sh installs them).");
    QCOMPARE(peMachine(folder + QStringLiteral("/zelfix-32.exe")), quint16(0x14c));
    QCOMPARE(peMachine(folder + QStringLiteral("/zelfix-x64.exe")), quint16(0x8664));
}

QTEST_GUILESS_MAIN(TestGreenPackage)
#include "tst_greenpackage.moc"
