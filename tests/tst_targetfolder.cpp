#include "engine/ZelManagerTargetFolder.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <memory>

// The path rules on a real folder: hostile entry paths, links that lead out
// of the folder, and the removal of emptied folders.
class TestTargetFolder : public QObject
{
    Q_OBJECT

private:
    QString root() const { return m_sandbox->path() + QStringLiteral("/root"); }
    QString outside() const { return m_sandbox->path() + QStringLiteral("/outside"); }
    bool exists(const QString &relative) const { return QFileInfo::exists(root() + QLatin1Char('/') + relative); }
    bool isOutsideEmpty() const
    {
        return QDir(outside()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
    }

    std::unique_ptr<TestSandbox> m_sandbox;

private slots:
    void init()
    {
        m_sandbox.reset(new TestSandbox);
        QVERIFY(QDir().mkpath(root()));
        QVERIFY(QDir().mkpath(outside()));
    }

    void cleanup() { m_sandbox.reset(); }

    void entryPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("unsafe");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("installed");

        QTest::newRow("plain") << "bin/a.dll" << false << "bin/a.dll"
                               << "bin/a.dll";
        QTest::newRow("untidy") << "bin//sub/./a.dll" << false << "bin/sub/a.dll"
                                << "bin/sub/a.dll";
        QTest::newRow("trailing slash") << "lib/y.dll/" << false << "lib/y.dll"
                                        << "lib/y.dll";
        QTest::newRow("dot folder") << "lib/./y.dll" << false << "lib/y.dll"
                                    << "lib/y.dll";
        QTest::newRow("dots in names") << "bin/..x/a..b" << false << "bin/..x/a..b"
                                       << "bin/..x/a..b";
        QTest::newRow("empty") << "" << false << ""
                               << "";
        QTest::newRow("dot") << "." << false << ""
                             << "";
        QTest::newRow("absolute") << "/etc/passwd" << true << ""
                                  << "";
        QTest::newRow("backslash root") << "\\Windows\\a.dll" << true << ""
                                        << "";
        QTest::newRow("drive") << "C:/Windows/a.dll" << true << ""
                               << "";
        QTest::newRow("drive relative") << "c:a.dll" << true << ""
                                        << "";
        QTest::newRow("climbs") << "../a.dll" << true << ""
                                << "";
        QTest::newRow("climbs later") << "bin/../../a.dll" << true << ""
                                      << "";
        QTest::newRow("climbs back in") << "bin/../bin/a.dll" << true << ""
                                        << "";
        QTest::newRow("climbs with backslashes") << "bin\\..\\x" << true << ""
                                                 << "";
        QTest::newRow("info manual") << "share/info/tool.info" << false << "share/info/tool.info"
                                     << "share/info/tool.info.gz";
        QTest::newRow("untidy info manual") << "share//info/tool.info" << false << "share/info/tool.info"
                                            << "share/info/tool.info.gz";
        QTest::newRow("info below share/info") << "share/info/x/tool.info" << false << "share/info/x/tool.info"
                                               << "share/info/x/tool.info";
    }

    void entryPaths()
    {
        QFETCH(QString, path);
        QFETCH(bool, unsafe);
        QFETCH(QString, entry);
        QFETCH(QString, installed);
        QCOMPARE(ZelManagerTargetFolder::isUnsafeEntryPath(path), unsafe);
        QCOMPARE(ZelManagerTargetFolder::entryPath(path), entry);
        QCOMPARE(ZelManagerTargetFolder::installedName(path), installed);
        // Nothing but a usable entry path gets a place to write.
        ZelManagerTargetFolder folder(root());
        const QString target = folder.prepareFile(path);
        QCOMPARE(target.isEmpty(), entry.isEmpty());
        if (!target.isEmpty())
            QCOMPARE(target, root() + QLatin1Char('/') + entry);
        QVERIFY(isOutsideEmpty());
    }

    void namesBelowTheFolder()
    {
        QVERIFY(ZelManagerTargetFolder::isBelow(QStringLiteral("/r/a/b"), QStringLiteral("/r/a")));
        QVERIFY(!ZelManagerTargetFolder::isBelow(QStringLiteral("/r/a"), QStringLiteral("/r/a")));
        QVERIFY(!ZelManagerTargetFolder::isBelow(QStringLiteral("/r/ab"), QStringLiteral("/r/a")));

        const ZelManagerTargetFolder folder(root() + QStringLiteral("/./"));
        QCOMPARE(folder.root(), root());
        QCOMPARE(folder.relativePath(QStringLiteral("a/../b/")), QStringLiteral("b"));
        QCOMPARE(folder.relativePath(QStringLiteral("../root/b")), QStringLiteral("b"));
        QVERIFY(folder.relativePath(QStringLiteral("a/..")).isEmpty());
        QVERIFY(folder.relativePath(QStringLiteral("../rootless/b")).isEmpty());
        QVERIFY(folder.relativePath(QStringLiteral("../../b")).isEmpty());
    }

    // A link inside the folder that leads out of it is never written or
    // made through; a link where a file goes is replaced, its target kept.
    void linksLeadingOutside()
    {
        QVERIFY(QFile::link(outside(), root() + QStringLiteral("/out")));
        QVERIFY(TestSandbox::writeFile(outside() + QStringLiteral("/kept.txt"), "kept"));
        QVERIFY(QFile::link(outside() + QStringLiteral("/kept.txt"), root() + QStringLiteral("/file.txt")));

        ZelManagerTargetFolder folder(root());
        QVERIFY(folder.containsFolder(root()));
        QVERIFY(!folder.containsFolder(root() + QStringLiteral("/out")));
        QVERIFY(!folder.containsFile(root() + QStringLiteral("/out/kept.txt")));
        QVERIFY(!folder.containsFolder(root() + QStringLiteral("/missing")));
        QVERIFY(!folder.makeFolder(root() + QStringLiteral("/out/new")));
        QVERIFY(folder.prepareFile(QStringLiteral("out/new/x.txt")).isEmpty());
        QVERIFY(!QFileInfo::exists(outside() + QStringLiteral("/new")));

        QCOMPARE(folder.prepareFile(QStringLiteral("file.txt")), root() + QStringLiteral("/file.txt"));
        QVERIFY(!QFileInfo(root() + QStringLiteral("/file.txt")).isSymLink());
        QCOMPARE(TestSandbox::readFile(outside() + QStringLiteral("/kept.txt")), QStringLiteral("kept"));

        const QString deep = folder.prepareFile(QStringLiteral("in/deeper/x.txt"));
        QCOMPARE(deep, root() + QStringLiteral("/in/deeper/x.txt"));
        QVERIFY(QFileInfo(root() + QStringLiteral("/in/deeper")).isDir());
        QVERIFY(folder.containsFile(deep));
    }

    // A folder reached through a link of its own is still the folder.
    void rootReachedThroughALink()
    {
        const QString alias = m_sandbox->path() + QStringLiteral("/alias");
        QVERIFY(QFile::link(root(), alias));
        ZelManagerTargetFolder folder(alias);
        QCOMPARE(folder.canonicalRoot(), QFileInfo(root()).canonicalFilePath());
        QCOMPARE(folder.prepareFile(QStringLiteral("a/b.txt")), alias + QStringLiteral("/a/b.txt"));
        QVERIFY(exists(QStringLiteral("a")));
        QVERIFY(folder.containsFile(alias + QStringLiteral("/a/b.txt")));
        QVERIFY(ZelManagerTargetFolder(root() + QStringLiteral("/missing")).prepareFile(QStringLiteral("x")).isEmpty());
    }

    void removeEmptyFoldersDeepestFirst()
    {
        for (const char *path : { "a/b/c", "d", "e", "f/g", "unlisted" })
            QVERIFY(QDir(root()).mkpath(QLatin1String(path)));
        QVERIFY(TestSandbox::writeFile(root() + QStringLiteral("/a/kept.txt"), "x"));
        QVERIFY(TestSandbox::writeFile(root() + QStringLiteral("/e/.hidden"), "x"));
        QVERIFY(QDir().mkpath(outside() + QStringLiteral("/empty")));
        QVERIFY(QFile::link(outside() + QStringLiteral("/empty"), root() + QStringLiteral("/l")));

        // Listed in any order, with repeats, the root and hostile names.
        ZelManagerTargetFolder(root()).removeEmptyFolders(
            { QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("a/b/c"), QStringLiteral("a/b"),
                QStringLiteral("e"), QStringLiteral("l"), QStringLiteral("l"), QStringLiteral("f"), QStringLiteral("."),
                QString(), QStringLiteral("../outside/empty"), QStringLiteral("/") });

        QVERIFY(!exists(QStringLiteral("a/b")));
        QVERIFY(exists(QStringLiteral("a/kept.txt")));
        QVERIFY(!exists(QStringLiteral("d")));
        QVERIFY(exists(QStringLiteral("e/.hidden")));
        QVERIFY(exists(QStringLiteral("f/g"))); // f holds g, which was not listed
        QVERIFY(exists(QStringLiteral("unlisted"))); // not listed
        QVERIFY(QFileInfo(root() + QStringLiteral("/l")).isSymLink());
        QVERIFY(QFileInfo(outside() + QStringLiteral("/empty")).isDir());
        QVERIFY(QFileInfo(root()).isDir());
    }

    void removeEmptyFoldersUpToTheStopFolder()
    {
        QVERIFY(QDir(root()).mkpath(QStringLiteral("x/y/z")));
        QVERIFY(QDir(root()).mkpath(QStringLiteral("p/q/r")));
        QVERIFY(TestSandbox::writeFile(root() + QStringLiteral("/p/kept.txt"), "x"));
        QVERIFY(QDir().mkpath(outside() + QStringLiteral("/empty")));
        QVERIFY(QFile::link(outside(), root() + QStringLiteral("/x/link")));

        ZelManagerTargetFolder folder(root());
        folder.removeEmptyFoldersFrom(QStringLiteral("x/link/empty"));
        QVERIFY(QFileInfo(outside() + QStringLiteral("/empty")).isDir());
        QVERIFY(exists(QStringLiteral("x/y/z")));

        QVERIFY(QFile::remove(root() + QStringLiteral("/x/link")));
        folder.removeEmptyFoldersFrom(QStringLiteral("x/y/z/"));
        QVERIFY(!exists(QStringLiteral("x")));
        folder.removeEmptyFoldersFrom(QStringLiteral("p/q/r"));
        QVERIFY(!exists(QStringLiteral("p/q")));
        QVERIFY(exists(QStringLiteral("p/kept.txt")));

        // The stop folder stays even when it is left empty; nothing above it
        // is reached by climbing.
        QVERIFY(QFile::remove(root() + QStringLiteral("/p/kept.txt")));
        folder.removeEmptyFoldersFrom(QStringLiteral("p"));
        QVERIFY(!exists(QStringLiteral("p")));
        QVERIFY(QDir(root()).isEmpty());
        folder.removeEmptyFoldersFrom(QStringLiteral("../outside/empty"));
        QVERIFY(QFileInfo(outside() + QStringLiteral("/empty")).isDir());
    }
};

QTEST_GUILESS_MAIN(TestTargetFolder)
#include "tst_targetfolder.moc"
