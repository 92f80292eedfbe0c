#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerInstallLock.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestDatabaseFile.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestSandbox.h"
#include "tools/ZelManagerPackageList.h"
#include "tools/ZelManagerRepositoryBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

// An installation whose settings name one repository served over HTTP: the
// program finds it through the settings store of the sandbox's HOME, as the
// window does. liba 1.0; tool 2.1 needs liba >= 1.0.
class Installation
{
public:
    Installation()
    {
        QDir().mkpath(repositoryFolder());
        m_valid = m_server.start(m_served.path());
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        settings->clearRepositories();
        settings->setRepository(repository(), QStringLiteral("Test"), true);
        settings->setInstallPath(m_sandbox.installPath());
        settings->setArchitecture(QStringLiteral("win32"));
        settings->setCachePath(m_sandbox.path() + QStringLiteral("/cache"));
        ZelManagerSettings::cleanup(); // saved where the program reads it
        m_valid = m_valid
            && addPackage(TestApplyFixture::manifest(QStringLiteral("liba"), QStringLiteral("1.0")),
                QStringLiteral("lib/liba.dll"))
            && addPackage(TestApplyFixture::manifest(
                              QStringLiteral("tool"), QStringLiteral("2.1"), { QStringLiteral("liba >= 1.0") }),
                QStringLiteral("bin/tool.exe"));
    }

    bool isValid() const { return m_valid; }
    // Makes the server misbehave on the archive of a package of version 1.0.
    bool setArchiveBehaviour(
        const QString &package, TestHttpServer::Behaviour behaviour, qint64 value = 0, int intervalMs = 0)
    {
        const QString archive
            = ZelManagerRepositoryBuilder::archiveFileName(package, QStringLiteral("1.0"), QStringLiteral("win32"));
        return m_server.setBehaviour(QStringLiteral("/repo/") + archive, behaviour, value, intervalMs);
    }
    QUrl repository() const { return QUrl(m_server.url().toString() + QStringLiteral("/repo")); }
    QString repositoryFolder() const { return m_served.path() + QStringLiteral("/repo"); }
    QString target() const { return m_sandbox.installPath() + QStringLiteral("/win32"); }
    QString statusFile() const { return m_sandbox.installPath() + QStringLiteral("/pkgdb/win32.db"); }
    QString installPath() const { return m_sandbox.installPath(); }
    QString lockFile() const { return ZelManagerInstallLock::lockFilePath(m_sandbox.installPath()); }
    QString work() const { return m_sandbox.work(); }

    bool addPackage(const TestApplyFixture::Manifest &manifest, const QString &file)
    {
        ZelManagerRepositoryBuilder builder;
        return builder.buildPackage(manifest, { { file, manifest.name.toUtf8() } }, repositoryFolder());
    }

    static QString program() { return QStringLiteral(ZEL_BINARY_DIR "/zelpkg"); }

    static void startProgram(QProcess &process, const QStringList &arguments)
    {
        // A sanitizer's report must not pass for the exit status 1 of a failed operation.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:exitcode=86"));
        environment.insert(QStringLiteral("UBSAN_OPTIONS"), QStringLiteral("exitcode=87:print_stacktrace=1"));
        process.setProcessEnvironment(environment);
        process.setProgram(program());
        process.setArguments(arguments);
        process.start();
    }

    static Result run(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        QProcess process;
        startProgram(process, arguments);
        Result result;
        if (!process.waitForStarted())
            return result;
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(300000))
            return result;
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(process.readAllStandardError());
        return result;
    }

    // "name:flags" of every row of the status table, by name.
    QStringList status() const
    {
        TestDatabaseFile db(statusFile(), TestDatabaseFile::Status);
        QStringList result;
        for (const QStringList &row : db.rows(QStringLiteral("SELECT package, status FROM status ORDER BY package")))
            result.append(row.value(0) + QLatin1Char(':') + QString::number(row.value(1).toInt() & 0x1f0f, 16));
        return result;
    }

private:
    TestSandbox m_sandbox;
    QTemporaryDir m_served;
    TestHttpServer m_server;
    bool m_valid = false;
};

QJsonDocument parse(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "not JSON:" << error.errorString() << text;
    return document;
}

} // namespace

class TestZelPkg : public QObject
{
    Q_OBJECT

private slots:
    void queriesOnServedRepository();
    void installAndRemoveWithDependencies();
    void missingArchiveFailsUnderItsPackage();
    void lockHeldElsewhere();
    void selectionFileRoundTrip();
    void selectionFileReading();
    void interruptStopsRun();
};

void TestZelPkg::queriesOnServedRepository()
{
    Installation installation;
    QVERIFY(installation.isValid());

    Result result = Installation::run({ QStringLiteral("update") });
    QCOMPARE(result.code, 0);
    QVERIFY2(result.out.contains(installation.repository().toString() + QStringLiteral(": 2 packages")),
        qPrintable(result.out));

    result = Installation::run({ QStringLiteral("search"), QStringLiteral("Package t") });
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out, QStringLiteral("tool/2.1 [installable]\n  Package tool\n"));

    result = Installation::run({ QStringLiteral("show"), QStringLiteral("tool") });
    QCOMPARE(result.code, 0);
    QVERIFY(result.out.contains(QStringLiteral("Depends on: liba >= 1.0\n")));
    QVERIFY(result.out.contains(QStringLiteral("Maintainer: Test Maintainer\n")));

    result = Installation::run({ QStringLiteral("show"), QStringLiteral("liba"), QStringLiteral("--json") });
    QCOMPARE(result.code, 0);
    const QJsonObject liba = parse(result.out).object();
    QCOMPARE(liba.value(QStringLiteral("name")).toString(), QStringLiteral("liba"));
    QCOMPARE(liba.value(QStringLiteral("availableVersion")).toString(), QStringLiteral("1.0"));
    QCOMPARE(liba.value(QStringLiteral("state")).toString(), QStringLiteral("installable"));
    QCOMPARE(liba.value(QStringLiteral("categories")).toArray(), QJsonArray { QStringLiteral("tools") });

    result = Installation::run({ QStringLiteral("list"), QStringLiteral("--json") });
    QCOMPARE(result.code, 0);
    const QJsonArray all = parse(result.out).array();
    QCOMPARE(all.size(), 2);
    QCOMPARE(all.at(1).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("tool"));

    result = Installation::run({ QStringLiteral("list"), QStringLiteral("--installed"), QStringLiteral("--json") });
    QCOMPARE(parse(result.out).array().size(), 0);

    result = Installation::run({ QStringLiteral("show"), QStringLiteral("nosuch") });
    QCOMPARE(result.code, 2);
    QVERIFY(result.err.contains(QStringLiteral("nosuch")));
    QVERIFY(result.out.isEmpty());
}

void TestZelPkg::installAndRemoveWithDependencies()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addPackage(
        TestApplyFixture::manifest(QStringLiteral("needy"), QStringLiteral("1.0"), { QStringLiteral("liba >= 9") }),
        QStringLiteral("bin/needy.exe")));
    QCOMPARE(Installation::run({ QStringLiteral("update") }).code, 0);
    const QStringList offered { QStringLiteral("liba:2"), QStringLiteral("needy:2"), QStringLiteral("tool:2") };
    QCOMPARE(installation.status(), offered);

    // The engine's refusal, as it words it; nothing is marked.
    Result result = Installation::run({ QStringLiteral("install"), QStringLiteral("needy"), QStringLiteral("--yes") });
    QCOMPARE(result.code, 1);
    QVERIFY2(
        result.err.contains(QStringLiteral("dependencies not satisfied:\n   liba >= 9\n")), qPrintable(result.err));
    QCOMPARE(installation.status(), offered);

    // The plan names the dependency; declining changes nothing.
    result = Installation::run({ QStringLiteral("install"), QStringLiteral("tool") }, "n\n");
    QCOMPARE(result.code, 1);
    QVERIFY2(
        result.out.contains(QStringLiteral("Packages to be installed:\n  liba 1.0 (needed by tool)\n  tool 2.1\n")),
        qPrintable(result.out));
    QVERIFY(result.out.contains(QStringLiteral("2 to install, 0 to upgrade, 0 to reinstall, 0 to remove.")));
    QVERIFY(result.out.contains(QStringLiteral("Download size: ")));
    QVERIFY(result.out.contains(QStringLiteral("Disk space needed: ")));
    QCOMPARE(installation.status(), offered);

    // A dry run prints the plan and leaves no request.
    result = Installation::run({ QStringLiteral("install"), QStringLiteral("tool"), QStringLiteral("--dry-run") });
    QCOMPARE(result.code, 0);
    QVERIFY(result.out.contains(QStringLiteral("  liba 1.0 (needed by tool)")));
    QCOMPARE(installation.status(), offered);
    QVERIFY(!QFile::exists(installation.target() + QStringLiteral("/bin/tool.exe")));

    result = Installation::run({ QStringLiteral("install"), QStringLiteral("tool"), QStringLiteral("--yes") });
    QCOMPARE(result.code, 0);
    QVERIFY2(result.out.contains(QStringLiteral("tool: Finished\n")), qPrintable(result.out));
    QVERIFY(result.out.contains(QStringLiteral("2 of 2 operations done.")));
    QCOMPARE(installation.status(),
        QStringList({ QStringLiteral("liba:6"), QStringLiteral("needy:2"), QStringLiteral("tool:6") }));
    result = Installation::run({ QStringLiteral("show"), QStringLiteral("liba"), QStringLiteral("--json") });
    const QJsonObject liba = parse(result.out).object();
    QCOMPARE(liba.value(QStringLiteral("state")).toString(), QStringLiteral("installed"));
    QCOMPARE(liba.value(QStringLiteral("dependants")).toArray(), QJsonArray { QStringLiteral("tool") });
    QCOMPARE(TestSandbox::readFile(installation.target() + QStringLiteral("/bin/tool.exe")), QStringLiteral("tool"));

    result = Installation::run({ QStringLiteral("files"), QStringLiteral("tool") });
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out, QStringLiteral("bin/tool.exe\n"));
    result = Installation::run({ QStringLiteral("owner"), installation.target() + QStringLiteral("/lib/liba.dll") });
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out, QStringLiteral("liba: lib/liba.dll\n"));
    result = Installation::run({ QStringLiteral("owner"), QStringLiteral("bin/tool.exe"), QStringLiteral("--json") });
    QCOMPARE(
        parse(result.out).object().value(QStringLiteral("packages")).toArray(), QJsonArray { QStringLiteral("tool") });
    QCOMPARE(Installation::run({ QStringLiteral("owner"), QStringLiteral("bin/none.exe") }).code, 1);

    // Removing the dependency removes what depends on it.
    result = Installation::run({ QStringLiteral("remove"), QStringLiteral("liba") }, "y\n");
    QCOMPARE(result.code, 0);
    QVERIFY2(result.out.contains(QStringLiteral("Packages to be removed:\n  liba 1.0\n  tool 2.1 (depends on liba)\n")),
        qPrintable(result.out));
    QCOMPARE(installation.status(), offered);
    QVERIFY(!QFile::exists(installation.target() + QStringLiteral("/bin/tool.exe")));
    QVERIFY(!QFile::exists(installation.target() + QStringLiteral("/lib/liba.dll")));
}

void TestZelPkg::missingArchiveFailsUnderItsPackage()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QCOMPARE(Installation::run({ QStringLiteral("update") }).code, 0);
    QVERIFY(installation.setArchiveBehaviour(QStringLiteral("liba"), TestHttpServer::NotFound));

    const Result result
        = Installation::run({ QStringLiteral("install"), QStringLiteral("tool"), QStringLiteral("--yes") });
    QCOMPARE(result.code, 1);
    QVERIFY2(result.err.contains(
                 QStringLiteral("Errors occurred during applying operations:\n## Install package liba:\n   ")),
        qPrintable(result.err));
    QCOMPARE(result.err.count(QStringLiteral("## Install package liba:")), 1);
    QVERIFY(result.err.contains(QStringLiteral("zelpkg apply")));
    QVERIFY(result.out.contains(QStringLiteral("liba: Error\n")));
    // Nothing installed; the requests stay marked for a later run.
    QCOMPARE(installation.status(), QStringList({ QStringLiteral("liba:1102"), QStringLiteral("tool:102") }));
    QVERIFY(!QFile::exists(installation.target() + QStringLiteral("/bin/tool.exe")));

    const Result cancel = Installation::run({ QStringLiteral("cancel"), QStringLiteral("--all") });
    QCOMPARE(cancel.code, 0);
    QCOMPARE(installation.status(), QStringList({ QStringLiteral("liba:2"), QStringLiteral("tool:2") }));
}

void TestZelPkg::lockHeldElsewhere()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QCOMPARE(Installation::run({ QStringLiteral("update") }).code, 0);
    const QStringList before = installation.status();
    {
        ZelManagerInstallLock lock(installation.installPath());
        QVERIFY(lock.tryLock());
        for (const QStringList &arguments :
            { QStringList { QStringLiteral("install"), QStringLiteral("tool"), QStringLiteral("--yes") },
                QStringList { QStringLiteral("update") }, QStringList { QStringLiteral("clean") } }) {
            const Result result = Installation::run(arguments);
            QCOMPARE(result.code, 3);
            QVERIFY2(result.err.contains(QString::number(QCoreApplication::applicationPid())), qPrintable(result.err));
        }
        QCOMPARE(installation.status(), before);
        QVERIFY(!QFile::exists(installation.target() + QStringLiteral("/bin/tool.exe")));
        // Reading needs no lock.
        QCOMPARE(Installation::run({ QStringLiteral("list") }).code, 0);
    }

    // The lock of a process that has ended is taken over.
    QProcess shell;
    shell.start(QStringLiteral("sh"), { QStringLiteral("-c"), QStringLiteral("echo $$") });
    QVERIFY(shell.waitForFinished());
    const QByteArray deadPid = shell.readAllStandardOutput().trimmed();
    QVERIFY(TestSandbox::writeFile(
        installation.lockFile(), deadPid + "\nzelpkg\n" + QSysInfo::machineHostName().toUtf8() + "\n"));
    QCOMPARE(Installation::run({ QStringLiteral("cancel"), QStringLiteral("--all") }).code, 0);
}

void TestZelPkg::selectionFileRoundTrip()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QCOMPARE(Installation::run({ QStringLiteral("update") }).code, 0);
    QCOMPARE(Installation::run({ QStringLiteral("install"), QStringLiteral("tool"), QStringLiteral("--yes") }).code, 0);
    const QStringList installed = installation.status();

    const QString file = installation.work() + QStringLiteral("/selection.xml");
    QCOMPARE(Installation::run({ QStringLiteral("export"), file }).code, 0);
    QCOMPARE(TestSandbox::readFile(file),
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<packages>\n  <package>liba</package>\n"
                       "  <package>tool</package>\n</packages>\n"));

    Result result = Installation::run({ QStringLiteral("import"), file });
    QCOMPARE(result.code, 0);
    QVERIFY(result.out.contains(QStringLiteral("All packages are installed properly!")));

    QCOMPARE(Installation::run({ QStringLiteral("remove"), QStringLiteral("liba"), QStringLiteral("--yes") }).code, 0);
    // A name no repository offers is skipped.
    QVERIFY(TestSandbox::writeFile(
        file, TestSandbox::readFile(file).toUtf8().replace("</packages>", "  <package>ghost</package>\n</packages>")));
    result = Installation::run({ QStringLiteral("import"), file, QStringLiteral("--yes") });
    QCOMPARE(result.code, 0);
    QVERIFY(result.err.contains(QStringLiteral("ghost")));
    QCOMPARE(installation.status(), installed);

    // A file cut short is an error and changes nothing.
    QCOMPARE(Installation::run({ QStringLiteral("remove"), QStringLiteral("tool"), QStringLiteral("--yes") }).code, 0);
    const QStringList before = installation.status();
    QVERIFY(TestSandbox::writeFile(file, TestSandbox::readFile(file).toUtf8().left(70)));
    result = Installation::run({ QStringLiteral("import"), file, QStringLiteral("--yes") });
    QCOMPARE(result.code, 1);
    QVERIFY2(result.err.contains(QStringLiteral("not valid")), qPrintable(result.err));
    QCOMPARE(installation.status(), before);
}

void TestZelPkg::selectionFileReading()
{
    ZelManagerPackageList list;
    // Any root, "package" elements at any depth, trimmed, duplicates once.
    QVERIFY(list.read(QByteArray("<?xml version=\"1.0\"?><list><package> b </package><group><package>a</package>"
                                 "</group><other>c</other><package>b</package></list>")));
    QCOMPARE(list.names(), QStringList({ QStringLiteral("b"), QStringLiteral("a") }));
    QVERIFY(!list.read(QByteArray("not xml at all")));
    QVERIFY(list.names().isEmpty());
    QVERIFY(!list.errorText().isEmpty());
    QCOMPARE(
        ZelManagerPackageList::document({}), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<packages/>\n"));
}

// Ctrl+C during a download stops the run: nothing of the package is
// installed and its request stays for a later run.
void TestZelPkg::interruptStopsRun()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QCOMPARE(Installation::run({ QStringLiteral("update") }).code, 0);
    QVERIFY(installation.setArchiveBehaviour(QStringLiteral("liba"), TestHttpServer::Trickle, 64, 200));

    QProcess process;
    Installation::startProgram(process, { QStringLiteral("install"), QStringLiteral("liba"), QStringLiteral("--yes") });
    QVERIFY(process.waitForStarted());
    QByteArray out;
    while (!out.contains("liba: Downloading") && process.waitForReadyRead(60000))
        out += process.readAllStandardOutput();
    QVERIFY2(out.contains("liba: Downloading"), out.constData());
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("Stopped."));
    QVERIFY(!QFile::exists(installation.target() + QStringLiteral("/lib/liba.dll")));
    QCOMPARE(installation.status(), QStringList({ QStringLiteral("liba:102"), QStringLiteral("tool:2") }));
}

QTEST_GUILESS_MAIN(TestZelPkg)
#include "tst_zelpkg.moc"
