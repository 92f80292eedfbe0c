#include "engine/ZelManagerFixupStream.h"
#include "tests/support/TestSandbox.h"
#include "zelfix/ZelFixConfig.h"
#include "zelfix/ZelFixRelocator.h"
#include "zelfix/ZelFixRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtTest>

#include <sstream>

namespace {

std::string str(const QString &text)
{
    return text.toStdString();
}

// A literal with its zero bytes.
template <std::size_t N> std::string bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

// Data made of the pieces that matter to a relocation: the old folder, path
// characters, every kind of path end, bytes of 0x80 and above.
QByteArray randomData(QRandomGenerator &random, const QByteArray &old)
{
    static const QByteArray pieces[] = { "/bin/tool", "x", " ", "\n", "\t", "\r", QByteArray(1, '\0'),
        QByteArray(1, '\x01'), QByteArray(1, '\x7f'), "\xc3\xa9", "\xff" };
    QByteArray data;
    const int count = random.bounded(12);
    for (int i = 0; i < count; ++i) {
        const int kind = random.bounded(int(sizeof(pieces) / sizeof(pieces[0])) + 3);
        if (kind < 3)
            data += kind == 2 ? old.left(random.bounded(old.size())) : old; // whole or a cut-off start
        else
            data += pieces[kind - 3];
    }
    return data;
}

} // namespace

class TestZelFix : public QObject
{
    Q_OBJECT

private slots:
    void relocationAgreesWithInstaller();
    void paddingKeepsLinesAndTerminators();
    void configurationIsReadAsTheSettingsWriteIt();
    void runFixesTreeOnceAndKeepsExclusions();
    void refusesLongerFolderAndMissingConfiguration();

private:
    void writeTree(const QString &root, const QByteArray &oldLong, const QByteArray &oldShort);
};

// The tool and the installer must pad alike: the same data, the same result,
// for shorter, equal, empty and longer new folders.
void TestZelFix::relocationAgreesWithInstaller()
{
    QRandomGenerator random(20261209);
    const QByteArray old = "/usr/lib/vantor/root";
    const QList<QByteArray> news
        = { "/new", "/usr/lib/vantor/root", "/usr/lib/vantor/rooX", "", "/a/much/longer/folder!" };
    for (int round = 0; round < 3000; ++round) {
        const QByteArray data = randomData(random, old);
        for (const QByteArray &folder : news) {
            QByteArray ours = data;
            QByteArray theirs = data;
            const std::size_t count
                = ZelFixRelocator::relocate(ours.data(), std::size_t(ours.size()), str(old), folder.toStdString());
            const int installerCount = ZelManagerFixupStream::fixPaths(theirs.data(), theirs.size(), old, folder);
            QVERIFY2(ours == theirs && int(count) == installerCount,
                qPrintable(QStringLiteral("data %1, new %2").arg(QString::fromLatin1(data.toHex()), folder)));
        }
    }
}

void TestZelFix::paddingKeepsLinesAndTerminators()
{
    std::string text = "path=/old/folder/bin/tool\r\nnext /old/folder\tend";
    QCOMPARE(ZelFixRelocator::relocate(text, "/old/folder", "/new"), std::size_t(2));
    QCOMPARE(text, std::string("path=/new/bin/tool       \r\nnext /new       \tend"));
    std::string binary = bytes("\x01/old/folder/lib\0/old/folder\xc3\xa9");
    QCOMPARE(ZelFixRelocator::relocate(binary, "/old/folder", "/new"), std::size_t(2));
    QCOMPARE(binary, bytes("\x01/new/lib\0\0\0\0\0\0\0\0/new\xc3\xa9\0\0\0\0\0\0\0"));
    std::string longer = "/old/folder";
    QCOMPARE(ZelFixRelocator::relocate(longer, "/old/folder", "/a/longer/folder"), std::size_t(0));
}

void TestZelFix::configurationIsReadAsTheSettingsWriteIt()
{
    ZelFixConfig config;
    config.parse("ignored=1\n[settings]\nprefix=C:/PROGRA~1/VANTOR~1/win32\r\n\n[exclude-files]\n0=bin/raw.dat\n"
                 "\n[exclude-folders]\n0=share/icons\n  [exclude-suffixes]\n1= share/info \n\n[exclude-suffixes]\n"
                 "0=.png\n1=\n");
    QCOMPARE(config.prefix(), std::string("C:/PROGRA~1/VANTOR~1/win32"));
    QCOMPARE(config.excludedFiles(), std::set<std::string>({ "bin/raw.dat" }));
    // A header with leading blanks is no header: its line goes to the folders.
    QCOMPARE(config.excludedFolders(), std::set<std::string>({ "share/icons", "share/info" }));
    QCOMPARE(config.excludedSuffixes(), std::set<std::string>({ ".png" }));
    QVERIFY(config.isExcluded("bin/raw.dat"));
    QVERIFY(!config.isExcluded("bin/raw.dat2"));
    QVERIFY(config.isExcluded("share/icons/hicolor/index.theme"));
    QVERIFY(!config.isExcluded("share/iconsx/a.txt"));
    QVERIFY(!config.isExcluded("share/icons"));
    QVERIFY(config.isExcluded("doc/Logo.PNG"));
    QVERIFY(!config.isExcluded("doc/png"));

    const std::string text = "[settings]\nprefix=/old\n\n[exclude-files]\n0=prefix=x\n";
    QCOMPARE(ZelFixConfig::withPrefix(text, "/new"),
        std::string("[settings]\nprefix=/new\n\n[exclude-files]\n0=prefix=x\n"));
    QCOMPARE(ZelFixConfig::withPrefix("[exclude-files]\n", "/new"),
        std::string("[settings]\nprefix=/new\n\n[exclude-files]\n"));
}

void TestZelFix::writeTree(const QString &root, const QByteArray &oldLong, const QByteArray &oldShort)
{
    QVERIFY(TestSandbox::writeFile(root + QStringLiteral("/etc/zelfixrc"),
        "[settings]\nprefix=" + oldShort
            + "\n\n[exclude-files]\n0=bin/raw.cfg\n\n[exclude-folders]\n0=share/"
              "icons\n\n[exclude-suffixes]\n0=.png\n"));
    QVERIFY(TestSandbox::writeFile(
        root + QStringLiteral("/bin/tool.cfg"), "home=" + oldLong + "/x\nlib=" + oldShort + "/lib\n"));
    QVERIFY(TestSandbox::writeFile(root + QStringLiteral("/bin/raw.cfg"), oldShort + "\n"));
    QVERIFY(TestSandbox::writeFile(root + QStringLiteral("/share/icons/a.theme"), oldShort + "\n"));
    QVERIFY(TestSandbox::writeFile(root + QStringLiteral("/doc/logo.png"), oldShort));
    QVERIFY(TestSandbox::writeFile(root + QStringLiteral("/lib/plain.txt"), "nothing to fix\n"));
}

// The long form with its blank arrives as two words; both forms are
// relocated, exclusions stay as they were, file times are kept, the
// configuration then names the new folder, and a second run changes nothing.
void TestZelFix::runFixesTreeOnceAndKeepsExclusions()
{
    TestSandbox sandbox;
    const QString root = sandbox.path() + QStringLiteral("/g");
    const QByteArray oldLong = "C:/Program Files/Vantor Platform/win32/with/more/length";
    const QByteArray oldShort = "C:/PROGRA~1/VANTOR~1/win32/and/some/more/length";
    writeTree(root, oldLong, oldShort);
    const QDateTime time = QDateTime::fromSecsSinceEpoch(1600000000);
    {
        QFile file(root + QStringLiteral("/bin/tool.cfg"));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime));
    }
    const QByteArray newFolder = root.toUtf8();
    QVERIFY(newFolder.size() < oldShort.size());

    std::ostringstream out;
    std::ostringstream err;
    ZelFixRun run(out, err);
    QCOMPARE(run.run({ "C:\\Program", "Files/Vantor Platform/win32/with/more/length/" }, str(root)), 0);
    QCOMPARE(run.changedFiles(), std::size_t(1));
    QCOMPARE(run.relocations(), std::size_t(2));
    QVERIFY2(QByteArray::fromStdString(out.str()).contains("fixed bin/tool.cfg (2 paths)"), out.str().c_str());
    QCOMPARE(err.str(), std::string());
    const QByteArray expected = "home=" + newFolder + "/x" + QByteArray(oldLong.size() - newFolder.size(), ' ')
        + "\nlib=" + newFolder + "/lib" + QByteArray(oldShort.size() - newFolder.size(), ' ') + "\n";
    QCOMPARE(TestSandbox::readFile(root + QStringLiteral("/bin/tool.cfg")).toUtf8(), expected);
    QCOMPARE(QFileInfo(root + QStringLiteral("/bin/tool.cfg")).lastModified(), time);
    for (const char *excluded : { "/bin/raw.cfg", "/share/icons/a.theme" })
        QCOMPARE(TestSandbox::readFile(root + QLatin1String(excluded)).toUtf8(), oldShort + "\n");
    QCOMPARE(TestSandbox::readFile(root + QStringLiteral("/doc/logo.png")).toUtf8(), oldShort);
    QVERIFY(TestSandbox::readFile(root + QStringLiteral("/etc/zelfixrc"))
                .startsWith(QStringLiteral("[settings]\nprefix=") + root
                    + QStringLiteral("\n\n[exclude-files]\n0=bin/raw.cfg\n")));

    std::ostringstream again;
    ZelFixRun second(again, err);
    QCOMPARE(second.run({ oldLong.toStdString() }, str(root)), 0);
    QCOMPARE(second.changedFiles(), std::size_t(0));
    QVERIFY2(QByteArray::fromStdString(again.str()).contains("0 files fixed"), again.str().c_str());
    QCOMPARE(TestSandbox::readFile(root + QStringLiteral("/bin/tool.cfg")).toUtf8(), expected);
}

void TestZelFix::refusesLongerFolderAndMissingConfiguration()
{
    TestSandbox sandbox;
    const QString root = sandbox.path() + QStringLiteral("/a/folder/deep/enough/to/be/longer/than/the/old/one");
    const QByteArray old = "C:/PROGRA~1/VANTOR~1/win32";
    writeTree(root, old, old);
    const QString before = TestSandbox::readFile(root + QStringLiteral("/bin/tool.cfg"));
    std::ostringstream out;
    std::ostringstream err;
    ZelFixRun run(out, err);
    QCOMPARE(run.run({ old.toStdString() }, str(root)), int(ZelFixRun::Refused));
    QVERIFY2(QByteArray::fromStdString(err.str()).contains("is longer than the old folder C:/PROGRA~1/VANTOR~1/win32"),
        err.str().c_str());
    QVERIFY(QByteArray::fromStdString(err.str()).contains("Nothing was changed."));
    QCOMPARE(TestSandbox::readFile(root + QStringLiteral("/bin/tool.cfg")), before);
    QVERIFY(TestSandbox::readFile(root + QStringLiteral("/etc/zelfixrc")).contains(QString::fromUtf8(old)));

    std::ostringstream usage;
    QCOMPARE(ZelFixRun(out, usage).run({}, str(root)), int(ZelFixRun::Refused));
    QVERIFY(QByteArray::fromStdString(usage.str()).startsWith("Usage: bin/zelfix.exe OLD_FOLDER"));
    std::ostringstream missing;
    QCOMPARE(ZelFixRun(out, missing).run({ "/old" }, str(sandbox.path())), int(ZelFixRun::Refused));
    QVERIFY(QByteArray::fromStdString(missing.str()).contains("can not read etc/zelfixrc"));
    QCOMPARE(ZelFixRun::normalizedFolder("D:\\green\\"), std::string("D:/green"));
    QCOMPARE(ZelFixRun::normalizedFolder("D:/"), std::string("D:/"));
}

QTEST_GUILESS_MAIN(TestZelFix)
#include "tst_zelfix.moc"
