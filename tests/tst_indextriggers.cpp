#include "engine/ZelManagerPackageInstaller.h"
#include "integration/WindowsSupport.h"
#include "integration/ZelManagerTrigger.h"
#include "integration/ZelManagerUpdateIconThemeTrigger.h"
#include "integration/ZelManagerUpdateInfoDirTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestTriggerSandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QtTest>

#include <algorithm>

#include <archive.h>
#include <archive_entry.h>

namespace {

// A single gzip stream holding "data", written by libarchive.
QByteArray gzip(const QByteArray &data)
{
    QByteArray buffer(data.size() + data.size() / 10 + 65536, Qt::Uninitialized);
    size_t used = 0;
    archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_raw(writer);
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open_memory(writer, buffer.data(), size_t(buffer.size()), &used);
    archive_entry *entry = archive_entry_new();
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_pathname(entry, "manual");
    archive_write_header(writer, entry);
    archive_write_data(writer, data.constData(), size_t(data.size()));
    archive_write_close(writer);
    archive_entry_free(entry);
    archive_write_free(writer);
    buffer.truncate(int(used));
    return buffer;
}

} // namespace

class TestIndexTriggers : public QObject
{
    Q_OBJECT

private:
    QString target() const { return ZelManagerSettings::instance()->targetPath(); }
    QString infoFolder() const { return target() + QStringLiteral("/share/info"); }
    QString dirFile() const { return infoFolder() + QStringLiteral("/dir"); }
    QByteArray readBytes(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void writeManual(const QString &name, const QByteArray &text)
    {
        QVERIFY(TestSandbox::writeFile(infoFolder() + QLatin1Char('/') + name, gzip(text)));
    }

    QString themeFolder(const QString &theme) const { return target() + QStringLiteral("/share/icons/") + theme; }
    void writeImage(const QString &path, int width, int height)
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(path, "PNG"));
    }
    void writeSvg(const QString &path, int height)
    {
        QVERIFY(TestSandbox::writeFile(path,
            QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\">"
                           "<rect width=\"%1\" height=\"%1\" fill=\"blue\"/></svg>")
                .arg(height)
                .toUtf8()));
    }
    // One run in which the icon theme trigger saw the given package paths.
    void runIconTrigger(const QStringList &paths)
    {
        beginTriggers();
        for (const QString &path : paths)
            triggerForType(triggerTypeForPath(path))->installFile(path);
        finishTriggers();
    }

private slots:
    void init() { m_sandbox.reset(new TestTriggerSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void dirFileIsRebuilt()
    {
        writeManual(QStringLiteral("a.info.gz"),
            "This is a.info, produced by makeinfo.\n\n"
            "INFO-DIR-SECTION Development\n"
            "START-INFO-DIR-ENTRY\n"
            "* Alpha: (alpha).         The alpha tool.\n"
            "     It has a long description.\n"
            "END-INFO-DIR-ENTRY\n\n"
            "File: a.info,  Node: Top\n");
        writeManual(QStringLiteral("B.info.gz"),
            "START-INFO-DIR-ENTRY\n"
            "* Early: (early).         Listed before any section.\n"
            "END-INFO-DIR-ENTRY\n"
            "INFO-DIR-SECTION Development\n"
            "START-INFO-DIR-ENTRY\n"
            "* Beta: (beta).           The beta tool.\n"
            "END-INFO-DIR-ENTRY\n"
            "INFO-DIR-SECTION Text\n"
            "START-INFO-DIR-ENTRY\n"
            "* Lost: (lost).           Never ended.\n");
        // Large enough to span several read blocks, with multi-byte text all along.
        QByteArray large;
        for (int i = 0; large.size() < 1200000; ++i)
            large += QStringLiteral("Ünïcödé filler line %1 ✓\n").arg(i).toUtf8();
        large += "INFO-DIR-SECTION Archiving\r\nSTART-INFO-DIR-ENTRY\r\n"
            + QStringLiteral("* Größe: (groesse).       Ümlauts survive block boundaries.\r\n").toUtf8()
            + "END-INFO-DIR-ENTRY";
        writeManual(QStringLiteral("c.info.gz"), large);
        // Neither a plain-text manual nor a damaged one contributes anything.
        QVERIFY(TestSandbox::writeFile(infoFolder() + QStringLiteral("/d.info.gz"),
            "INFO-DIR-SECTION Broken\nSTART-INFO-DIR-ENTRY\n* D: (d).\nEND-INFO-DIR-ENTRY\n"));
        const QByteArray whole = gzip(
            "INFO-DIR-SECTION Broken\nSTART-INFO-DIR-ENTRY\n* E: (e).\nEND-INFO-DIR-ENTRY\n" + QByteArray(200000, 'x'));
        QVERIFY(TestSandbox::writeFile(infoFolder() + QStringLiteral("/e.info.gz"), whole.left(whole.size() / 2)));
        QVERIFY(TestSandbox::writeFile(infoFolder() + QStringLiteral("/f.info"), "INFO-DIR-SECTION Uncompressed\n"));

        beginTriggers();
        triggerForType(TriggerType::UpdateInfoDir)->installFile(QStringLiteral("share/info/a.info.gz"));
        finishTriggers();
        QCOMPARE(readBytes(dirFile()), readBytes(QStringLiteral(ZEL_TESTS_SOURCE_DIR "/data/infodir.expected")));
    }

    // Lines and multi-byte characters that straddle read blocks arrive whole.
    void longEntriesSurviveBlockBoundaries()
    {
        QByteArray text = "INFO-DIR-SECTION Long\nSTART-INFO-DIR-ENTRY\n";
        QStringList expected;
        for (int i = 0; text.size() < 1500000; ++i) {
            expected << QStringLiteral("* Größe %1: (g).  ✓✓✓").arg(i);
            text += "  " + expected.last().toUtf8() + "\n";
        }
        text += "END-INFO-DIR-ENTRY\n";
        writeManual(QStringLiteral("long.info.gz"), text);
        ZelManagerUpdateInfoDirTrigger::Sections sections;
        QVERIFY(ZelManagerUpdateInfoDirTrigger::readManual(infoFolder() + QStringLiteral("/long.info.gz"), sections));
        QCOMPARE(sections.keys(), QStringList { QStringLiteral("Long") });
        QCOMPARE(sections.value(QStringLiteral("Long")), expected);
        QVERIFY(
            !ZelManagerUpdateInfoDirTrigger::readManual(infoFolder() + QStringLiteral("/missing.info.gz"), sections));
    }

    // A manual of one huge line: the line is dropped as it streams by (in
    // time linear in its length, with at most a few KB of it kept), the
    // directory markers around it still count, long but sane lines stay.
    // One gzip layer is undone, no more: a manual whose text is gzip data is
    // read as that text (here: no entries), not unpacked again.
    void manualIsDecompressedOnce()
    {
        QByteArray inner;
        QVERIFY(ZelManagerPackageInstaller::gzipCompress(
            "INFO-DIR-SECTION Inner\nSTART-INFO-DIR-ENTRY\n* Inner: (inner).\nEND-INFO-DIR-ENTRY\n",
            QStringLiteral("inner.info"), &inner));
        QByteArray outer;
        QVERIFY(ZelManagerPackageInstaller::gzipCompress(inner, QStringLiteral("x.info"), &outer));
        const QString file = target() + QStringLiteral("/x.info.gz");
        QVERIFY(TestSandbox::writeFile(file, outer));
        ZelManagerUpdateInfoDirTrigger::Sections sections;
        QVERIFY(ZelManagerUpdateInfoDirTrigger::readManual(file, sections));
        QVERIFY(sections.isEmpty());

        // An empty manual has no entries; it is not unreadable.
        QVERIFY(ZelManagerPackageInstaller::gzipCompress(QByteArray(), QStringLiteral("x.info"), &outer));
        QVERIFY(TestSandbox::writeFile(file, outer));
        QVERIFY(ZelManagerUpdateInfoDirTrigger::readManual(file, sections));
        QVERIFY(sections.isEmpty());
        QVERIFY(TestSandbox::writeFile(file, "not gzip"));
        QVERIFY(!ZelManagerUpdateInfoDirTrigger::readManual(file, sections));
    }

    void hugeLineIsDropped()
    {
        const QByteArray sane = "* Sane: (sane).  " + QByteArray(3000, 's');
        const QByteArray huge(20 << 20, 'x');
        const QByteArray text = "INFO-DIR-SECTION Huge\nSTART-INFO-DIR-ENTRY\n" + sane + "\n" + huge
            + "\n* After: (after).\nEND-INFO-DIR-ENTRY\nINFO-DIR-SECTION " + huge + "\n" + huge;
        writeManual(QStringLiteral("huge.info.gz"), text);
        ZelManagerUpdateInfoDirTrigger::Sections sections;
        QVERIFY(ZelManagerUpdateInfoDirTrigger::readManual(infoFolder() + QStringLiteral("/huge.info.gz"), sections));
        QCOMPARE(sections.keys(), QStringList { QStringLiteral("Huge") });
        QCOMPARE(sections.value(QStringLiteral("Huge")),
            QStringList({ QString::fromLatin1(sane), QStringLiteral("* After: (after).") }));
    }

    void removingTheLastManualRemovesTheFolder()
    {
        writeManual(QStringLiteral("a.info.gz"),
            "INFO-DIR-SECTION X\nSTART-INFO-DIR-ENTRY\n* A: (a).\n"
            "END-INFO-DIR-ENTRY\n");
        writeManual(QStringLiteral("b.info.gz"),
            "INFO-DIR-SECTION X\nSTART-INFO-DIR-ENTRY\n* B: (b).\n"
            "END-INFO-DIR-ENTRY\n");
        ZelManagerTrigger *trigger = triggerForType(TriggerType::UpdateInfoDir);
        beginTriggers();
        trigger->installFile(QStringLiteral("share/info/a.info.gz"));
        finishTriggers();
        QVERIFY(readBytes(dirFile()).endsWith("X\n* A: (a).\n* B: (b).\n\n"));

        beginTriggers();
        trigger->removeFile(QStringLiteral("share/info/a.info.gz"));
        QVERIFY(!QFileInfo::exists(dirFile())); // gone until the run finishes
        QVERIFY(QFile::remove(infoFolder() + QStringLiteral("/a.info.gz")));
        finishTriggers();
        QVERIFY(readBytes(dirFile()).endsWith("X\n* B: (b).\n\n"));

        beginTriggers();
        trigger->removeFile(QStringLiteral("share/info/b.info.gz"));
        QVERIFY(QFile::remove(infoFolder() + QStringLiteral("/b.info.gz")));
        finishTriggers();
        QVERIFY(!QFileInfo::exists(infoFolder()));
        QVERIFY(QFileInfo(target() + QStringLiteral("/share")).isDir());
    }

    void newThemeGetsAnIndex()
    {
        const QString theme = themeFolder(QStringLiteral("mytheme"));
        writeImage(theme + QStringLiteral("/48x48/apps/a.png"), 48, 48);
        QVERIFY(TestSandbox::writeFile(theme + QStringLiteral("/48x48/apps/notes.txt"), "not an image"));
        writeSvg(theme + QStringLiteral("/scalable/apps/b.svg"), 64);
        writeImage(theme + QStringLiteral("/scalable/apps/c.png"), 20, 20); // not the first image
        writeImage(theme + QStringLiteral("/32x32/symbolic/status/s.png"), 8, 8);
        writeSvg(theme + QStringLiteral("/symbolic/places/p.svg"), 16);
        writeImage(theme + QStringLiteral("/16x32/apps/d.png"), 10, 24);
        QVERIFY(TestSandbox::writeFile(theme + QStringLiteral("/broken/x.png"), "this is no image"));
        writeImage(theme + QStringLiteral("/22x22/apps/upper.PNG"), 22, 22);
        writeImage(theme + QStringLiteral("/root.png"), 30, 30);

        runIconTrigger({ QStringLiteral("share/icons/mytheme/48x48/apps/a.png"),
            QStringLiteral("share/icons/mytheme/scalable/apps/b.svg") });
        QCOMPARE(TestSandbox::readFile(theme + QStringLiteral("/index.theme")),
            QStringLiteral("[Icon Theme]\n"
                           "Comment=Fallback icon theme\n"
                           "Hidden=true\n"
                           "Name=Hicolor\n"
                           "Directories=16x32/apps,32x32/symbolic/status,48x48/apps,scalable/apps,symbolic/places\n"
                           "\n"
                           "[16x32/apps]\nSize=24\nContext=Applications\n\n"
                           "[32x32/symbolic/status]\nSize=32\nContext=Status\n\n"
                           "[48x48/apps]\nSize=48\nContext=Applications\n\n"
                           "[broken]\nSize=128\nMinSize=1\nMaxSize=256\nType=Scalable\nContext=broken\n\n"
                           "[scalable/apps]\nSize=64\nContext=Applications\n\n"
                           "[symbolic/places]\nSize=16\nContext=Places\n\n"));
    }

    void listedFoldersKeepTheirValues()
    {
        const QString theme = themeFolder(QStringLiteral("hicolor"));
        const QString index = theme + QStringLiteral("/index.theme");
        QVERIFY(TestSandbox::writeFile(index,
            "[Icon Theme]\n"
            "Name=Mine\n"
            "Inherits=hicolor, gnome\n"
            "Comment=Comment with spaces\n"
            "Directories=48x48/apps,gone/apps\n\n"
            "[48x48/apps]\nSize=99\nContext=Custom\nType=Fixed\nThreshold=3\n\n"
            "[gone/apps]\nSize=16\n"));
        writeImage(theme + QStringLiteral("/48x48/apps/a.png"), 48, 48);
        writeImage(theme + QStringLiteral("/64x64/devices/d.png"), 64, 64);
        runIconTrigger({ QStringLiteral("share/icons/hicolor/64x64/devices/d.png") });
        const QString expected = QStringLiteral("[Icon Theme]\n"
                                                "Comment=Comment with spaces\n"
                                                "Inherits=hicolor,gnome\n"
                                                "Name=Mine\n"
                                                "Directories=48x48/apps,64x64/devices\n\n"
                                                "[48x48/apps]\nType=Fixed\nSize=99\nContext=Custom\nThreshold=3\n\n"
                                                "[64x64/devices]\nSize=64\nContext=Devices\n\n");
        QCOMPARE(TestSandbox::readFile(index), expected);

        // Nothing changed: the index is not written again.
        QVERIFY(setFileTime(index, 1000000000));
        runIconTrigger({ QStringLiteral("share/icons/hicolor/48x48/apps/a.png") });
        QCOMPARE(QFileInfo(index).lastModified().toSecsSinceEpoch(), qint64(1000000000));
        QCOMPARE(TestSandbox::readFile(index), expected);

        // A run that touched no theme leaves every index alone.
        QVERIFY(QFile::remove(theme + QStringLiteral("/64x64/devices/d.png")));
        runIconTrigger({});
        QCOMPARE(TestSandbox::readFile(index), expected);
        runIconTrigger({ QStringLiteral("share/icons/hicolor/64x64/devices/d.png") });
        QVERIFY(TestSandbox::readFile(index).contains(QStringLiteral("Directories=48x48/apps\n\n")));
        QVERIFY(!TestSandbox::readFile(index).contains(QStringLiteral("64x64")));
    }

    // A listed folder without a Size of its own takes the scanned values at
    // once; kept with no size it would leave the list, and come back at the
    // next update.
    void listedFolderWithoutSizeTakesTheScan()
    {
        const QString theme = themeFolder(QStringLiteral("hicolor"));
        const QString index = theme + QStringLiteral("/index.theme");
        QVERIFY(TestSandbox::writeFile(index, "[Icon Theme]\nName=Mine\nDirectories=48x48/apps\n"));
        writeImage(theme + QStringLiteral("/48x48/apps/a.png"), 48, 48);
        const QString expected = QStringLiteral("[Icon Theme]\nName=Mine\nDirectories=48x48/apps\n\n"
                                                "[48x48/apps]\nSize=48\nContext=Applications\n\n");
        runIconTrigger({ QStringLiteral("share/icons/hicolor/48x48/apps/a.png") });
        QCOMPARE(TestSandbox::readFile(index), expected);
        runIconTrigger({ QStringLiteral("share/icons/hicolor/48x48/apps/a.png") });
        QCOMPARE(TestSandbox::readFile(index), expected);
    }

    // Whatever names and values an index brought in, the index written from
    // them reads back the same.
    void writtenIndexReadsBackTheSame()
    {
        using Trigger = ZelManagerUpdateIconThemeTrigger;
        Trigger::Theme theme;
        const QStringList values = { QStringLiteral("A \"quoted\" comment"), QStringLiteral("semi;colon=x"),
            QStringLiteral("line\nbreak\ttab\\back"), QStringLiteral(" outer blanks "), QStringLiteral("@Invalid()"),
            QStringLiteral("hicolor,@ByteArray(x), spaced"),
            QStringLiteral("ctl\x01"
                           "1f"),
            QStringLiteral("Th\u00e8me \u4e2d"), QString(QChar(0xd800)) + QStringLiteral("lone") };
        for (int i = 0; i < values.size(); ++i)
            theme.keys.insert(QStringLiteral("Key%1").arg(i), values.at(i));
        for (const QString &key : { QStringLiteral("Name[de]"), QStringLiteral("%41 pct"), QStringLiteral("[x"),
                 QStringLiteral("k=v;c\"q#"), QStringLiteral("Caf\u00e9") })
            theme.keys.insert(key, QStringLiteral("v"));
        for (const QString &name : { QStringLiteral("48x48/apps"), QStringLiteral("General"), QStringLiteral("a,b [c]"),
                 QStringLiteral("100%/\u00e9t\u00e9"), QStringLiteral("@x\"y;z") }) {
            Trigger::IconFolder folder;
            folder.name = name;
            folder.size = 16;
            folder.context = name;
            folder.type = QStringLiteral("Fixed");
            theme.folders << folder;
            theme.directories << name;
        }
        std::sort(theme.directories.begin(), theme.directories.end());
        const QString index = themeFolder(QStringLiteral("hostile")) + QStringLiteral("/index.theme");
        QVERIFY(TestSandbox::writeFile(index, Trigger::indexContents(theme)));
        const Trigger::Theme read = Trigger::readIndex(index);
        QCOMPARE(read.keys, theme.keys);
        QCOMPARE(read.directories, theme.directories);
        for (const Trigger::IconFolder &folder : read.folders) {
            QCOMPARE(folder.size, 16);
            QCOMPARE(folder.context, folder.name);
            QCOMPARE(folder.type, QStringLiteral("Fixed"));
        }
    }

    void removedThemeIsNotRevived()
    {
        const QString theme = themeFolder(QStringLiteral("gone"));
        writeImage(theme + QStringLiteral("/16x16/apps/a.png"), 16, 16);
        runIconTrigger({ QStringLiteral("share/icons/gone/16x16/apps/a.png") });
        QVERIFY(QFileInfo::exists(theme + QStringLiteral("/index.theme")));
        QVERIFY(QDir(theme).removeRecursively());
        runIconTrigger({ QStringLiteral("share/icons/gone/16x16/apps/a.png") });
        QVERIFY(!QFileInfo::exists(theme));
    }

private:
    QScopedPointer<TestTriggerSandbox> m_sandbox;
};

QTEST_MAIN(TestIndexTriggers)
#include "tst_indextriggers.moc"
