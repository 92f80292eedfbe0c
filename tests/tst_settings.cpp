#include "settings/ZelManagerSettings.h"
#include "tests/support/TestSandbox.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

namespace {

ZelManagerSettings *restart()
{
    ZelManagerSettings::cleanup();
    return ZelManagerSettings::instance();
}

void storeValues(const QVariantMap &values, const QStringList &repositories = QStringList())
{
    QSettings store(ZelManagerSettings::organizationName(), QStringLiteral("zelmanager"));
    for (auto it = values.begin(); it != values.end(); ++it)
        store.setValue(it.key(), it.value());
    store.beginGroup(QStringLiteral("repositories"));
    int n = 1;
    for (const QString &value : repositories)
        store.setValue(QString::number(n++), value);
}

QString expectedFixFile(
    const QString &target, const QStringList &files, const QStringList &folders, const QStringList &suffixes)
{
    QString text = QStringLiteral("[settings]\nprefix=%1\n").arg(target);
    const QPair<QString, QStringList> sections[] = { { QStringLiteral("[exclude-files]"), files },
        { QStringLiteral("[exclude-folders]"), folders }, { QStringLiteral("[exclude-suffixes]"), suffixes } };
    for (const auto &section : sections) {
        text += QLatin1Char('\n') + section.first + QLatin1Char('\n');
        for (int i = 0; i < section.second.size(); ++i)
            text += QStringLiteral("%1=%2\n").arg(i).arg(section.second.at(i));
    }
    return text;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_sandbox.reset(new TestSandbox); }
    void cleanup()
    {
        ZelManagerSettings::cleanup();
        m_sandbox.reset();
    }

    void defaultsFromEmptyStore()
    {
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        QCOMPARE(settings->installPath(), m_sandbox->path() + QStringLiteral("/Program Files/Vantor Platform"));
        QCOMPARE(settings->architecture(), QStringLiteral("win32"));
        QCOMPARE(settings->targetPath(), settings->installPath() + QStringLiteral("/win32"));
        QCOMPARE(settings->cachePath(), m_sandbox->home() + QStringLiteral("/.cache/zelmanager"));
        QCOMPARE(settings->repositories(), QList<QUrl> { ZelManagerSettings::officialRepositoryUrl() });
        QCOMPARE(settings->repositoryLabel(ZelManagerSettings::officialRepositoryUrl()),
            QStringLiteral("Vantor Offical Repository"));
        QVERIFY(settings->isRepositoryEnabled(ZelManagerSettings::officialRepositoryUrl()));
        QCOMPARE(settings->excludedSuffixes().size(), 16);
        QCOMPARE(settings->excludedFolders(),
            (QSet<QString> { QStringLiteral("share/icons"), QStringLiteral("share/info") }));
        QVERIFY(settings->excludedFiles().isEmpty());
        QCOMPARE(settings->toolchainRoot().size(), 68);

        ZelManagerSettings::cleanup();
        QSettings(ZelManagerSettings::organizationName(), QStringLiteral("zelmanager")).clear();
        qunsetenv("SYSTEMDRIVE");
        QCOMPARE(ZelManagerSettings::instance()->installPath(), QStringLiteral("/Program Files/Vantor Platform"));
    }

    void repositoryValues()
    {
        storeValues({},
            { QStringLiteral(" http://a.example/repo | Label A | 1 "),
                QStringLiteral("http://b.example/repo|Label B|0"), QStringLiteral("http://c.example/repo|NoBar"),
                QStringLiteral("http://d.example/repo||1"), QStringLiteral("|http://skipped.example"),
                QStringLiteral("no bar at all") });
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        const QUrl a(QStringLiteral("http://a.example/repo")), b(QStringLiteral("http://b.example/repo")),
            c(QStringLiteral("http://c.example/repo")), d(QStringLiteral("http://d.example/repo"));
        QCOMPARE(settings->repositories().size(), 4);
        QCOMPARE(settings->repositoryLabel(a), QStringLiteral("Label A "));
        QVERIFY(settings->isRepositoryEnabled(a));
        QCOMPARE(settings->repositoryLabel(b), QStringLiteral("Label B"));
        QVERIFY(!settings->isRepositoryEnabled(b));
        QCOMPARE(settings->repositoryLabel(c), QStringLiteral("NoBar"));
        QVERIFY(settings->isRepositoryEnabled(c));
        QCOMPARE(settings->repositoryLabel(d), QStringLiteral("|1")); // bar at position 0: no label part
        QVERIFY(settings->repositoryLabel(QUrl(QStringLiteral("http://absent"))).isEmpty());

        QSignalSpy changed(settings, &ZelManagerSettings::repositoryChanged);
        QSignalSpy added(settings, &ZelManagerSettings::repositoryAdded);
        QSignalSpy removed(settings, &ZelManagerSettings::repositoryRemoved);
        settings->setRepositoryEnabled(c, false); // value without a bar: nothing to switch
        settings->setRepositoryEnabled(d, false); // bar at position 0: nothing either
        settings->setRepositoryEnabled(a, true); // already enabled
        QCOMPARE(changed.count(), 0);
        settings->setRepositoryEnabled(b, true);
        QCOMPARE(changed.count(), 1);
        QVERIFY(settings->isRepositoryEnabled(b));
        QCOMPARE(settings->repositoryLabel(b), QStringLiteral("Label B"));

        settings->setRepository(c, QStringLiteral("Now C"), false);
        QCOMPARE(changed.count(), 2);
        const QUrl e(QStringLiteral("file:///srv/repo"));
        settings->setRepository(e, QStringLiteral("Local"), true);
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).toUrl(), e);

        settings->removeRepository(QUrl(QStringLiteral("http://absent")));
        QCOMPARE(removed.count(), 1);
        QSignalSpy cleared(settings, &ZelManagerSettings::repositoryCleared);
        settings->clearRepositories();
        QCOMPARE(cleared.count(), 1);
        settings->setRepository(e, QStringLiteral("Local"), false);

        // Saved as URL, bar, label, bar, flag; read back the same.
        QCOMPARE(restart()->repositories(), QList<QUrl> { e });
        QVERIFY(!ZelManagerSettings::instance()->isRepositoryEnabled(e));
        QCOMPARE(ZelManagerSettings::instance()->repositoryLabel(e), QStringLiteral("Local"));
    }

    void distributionMediumOverridesStore()
    {
        storeValues({}, { QStringLiteral("http://a.example/repo|A|1") });
        QVERIFY(TestSandbox::writeFile(m_sandbox->work() + QStringLiteral("/packages/packages.xml"), "<x/>"));
        const QUrl local = QUrl::fromLocalFile(m_sandbox->work() + QStringLiteral("/packages"));
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        QCOMPARE(settings->repositories(), QList<QUrl> { local });
        QCOMPARE(settings->repositoryLabel(local), QStringLiteral("Vantor CDROM Repository"));
        ZelManagerSettings::cleanup();

        QSettings store(ZelManagerSettings::organizationName(), QStringLiteral("zelmanager"));
        store.beginGroup(QStringLiteral("repositories"));
        QCOMPARE(store.childKeys(), QStringList { QStringLiteral("1") });
        QCOMPARE(store.value(QStringLiteral("1")).toString(),
            local.toString() + QStringLiteral("|Vantor CDROM Repository|1"));
    }

    void installPathLengthInvariant_data()
    {
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("kept");
        QTest::newRow("win32 62") << "win32" << 62 << true;
        QTest::newRow("win32 63") << "win32" << 63 << false;
        QTest::newRow("win64 64") << "win64" << 64 << true;
        QTest::newRow("win64 65") << "win64" << 65 << false;
    }

    void installPathLengthInvariant()
    {
        QFETCH(QString, architecture);
        QFETCH(int, length);
        QFETCH(bool, kept);
        const QString path = QStringLiteral("/") + QString(length - 1, QLatin1Char('p'));
        storeValues({ { QStringLiteral("install-path"), path }, { QStringLiteral("architecture"), architecture } });
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        QCOMPARE(settings->architecture(), architecture);
        QCOMPARE(settings->installPath() == path, kept);
        QVERIFY(settings->targetPath().size() <= settings->toolchainRoot().size());
    }

    void architectureNormalised()
    {
        storeValues({ { QStringLiteral("architecture"), QStringLiteral("amd64") } });
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        QCOMPARE(settings->architecture(true), QStringLiteral("win32"));
        QSignalSpy spy(settings, &ZelManagerSettings::architectureChanged);
        settings->setArchitecture(QStringLiteral("win32"));
        QCOMPARE(spy.count(), 0);
        settings->setArchitecture(QStringLiteral("amd64"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings->architecture(), QStringLiteral("win64"));
        QCOMPARE(settings->architecture(true), QStringLiteral("amd64"));
        QVERIFY(settings->toolchainRoot().isEmpty());
        settings->setArchitecture(QStringLiteral("win64"));
        QCOMPARE(restart()->architecture(), QStringLiteral("win64"));
        QCOMPARE(ZelManagerSettings::instance()->toolchainRoot().size(), 70);
    }

    void fixConfigurationRoundTrip()
    {
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        settings->setInstallPath(m_sandbox->installPath());
        const QString target = settings->targetPath();
        QVERIFY(QDir().mkpath(target + QStringLiteral("/etc")));
        settings->addExcludedFile(QStringLiteral("bin/b.exe"));
        settings->addExcludedFile(QStringLiteral("bin/a.exe"));
        settings->addExcludedFile(QStringLiteral("gone"));
        settings->removeExcludedFile(QStringLiteral("gone"));
        ZelManagerSettings::cleanup();

        QStringList suffixes = ZelManagerSettings::defaultExcludedSuffixes();
        std::sort(suffixes.begin(), suffixes.end());
        const QString file = target + QStringLiteral("/etc/zelfixrc");
        QCOMPARE(TestSandbox::readFile(file),
            expectedFixFile(target, { QStringLiteral("bin/a.exe"), QStringLiteral("bin/b.exe") },
                { QStringLiteral("share/icons"), QStringLiteral("share/info") }, suffixes));

        // By hand: a new suffix, a default taken out, a header with leading
        // blanks (its lines stay in the section before it), a settings key.
        QString edited = expectedFixFile(target, { QStringLiteral("bin/a.exe") }, { QStringLiteral("share/info") },
            { QStringLiteral(".bz2"), QStringLiteral(".mine") });
        edited += QStringLiteral("  [exclude-folders]\n7= lib/extra \n");
        edited.replace(QStringLiteral("[settings]\n"), QStringLiteral("[settings]\nignored=1\n"));
        QVERIFY(TestSandbox::writeFile(file, edited.toUtf8()));
        settings = ZelManagerSettings::instance();
        QCOMPARE(settings->targetPath(), target);
        QVERIFY(settings->excludedSuffixes().contains(QStringLiteral(".mine")));
        QVERIFY(settings->excludedSuffixes().contains(QStringLiteral("lib/extra")));
        QCOMPARE(settings->excludedSuffixes().size(), 18);
        QVERIFY(settings->excludedFolders().contains(QStringLiteral("share/icons"))); // default comes back
        QCOMPARE(settings->excludedFiles(), QSet<QString> { QStringLiteral("bin/a.exe") });
        QVERIFY(!settings->excludedFiles().contains(QStringLiteral("ignored")));
    }

    // Archive paths are anyone's: one with a line break must not put lines
    // of its own into the file, and the reader would trim white space around
    // a name. Such names are left out; the others stay as they are.
    void fixConfigurationLeavesOutNamesALineCannotHold()
    {
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        settings->setInstallPath(m_sandbox->installPath());
        const QString target = settings->targetPath();
        QVERIFY(QDir().mkpath(target + QStringLiteral("/etc")));
        const QStringList hostile = { QStringLiteral("x\n[exclude-folders]\n0=bin"), QStringLiteral("cr\rx"),
            QStringLiteral(" lead"), QStringLiteral("trail ") };
        for (const QString &name : hostile)
            settings->addExcludedFile(name);
        settings->addExcludedFile(QStringLiteral("bin/a b=c.exe"));
        ZelManagerSettings::cleanup();
        settings = ZelManagerSettings::instance();
        QCOMPARE(settings->excludedFiles(), QSet<QString> { QStringLiteral("bin/a b=c.exe") });
        QVERIFY(!settings->excludedFolders().contains(QStringLiteral("bin")));
    }

    void installPathChangeWritesOldTarget()
    {
        ZelManagerSettings *settings = ZelManagerSettings::instance();
        settings->setInstallPath(m_sandbox->installPath());
        const QString oldTarget = settings->targetPath();
        QVERIFY(QDir().mkpath(oldTarget + QStringLiteral("/etc")));
        settings->addExcludedFile(QStringLiteral("x"));
        QSignalSpy spy(settings, &ZelManagerSettings::installPathChanged);
        settings->setInstallPath(m_sandbox->installPath());
        QCOMPARE(spy.count(), 0);
        settings->setInstallPath(m_sandbox->path() + QStringLiteral("/other"));
        QCOMPARE(spy.count(), 1);
        QVERIFY(TestSandbox::readFile(oldTarget + QStringLiteral("/etc/zelfixrc")).contains(QStringLiteral("\n0=x\n")));
    }

    void cachePathSurvivesRestart()
    {
        ZelManagerSettings::instance()->setCachePath(m_sandbox->path() + QStringLiteral("/cache"));
        ZelManagerSettings::instance()->setWindowGeometry("geometry");
        QCOMPARE(restart()->cachePath(), m_sandbox->path() + QStringLiteral("/cache"));
        QCOMPARE(ZelManagerSettings::instance()->windowGeometry(), QByteArray("geometry"));
    }

    void iconThemeFile()
    {
        QCOMPARE(ZelManagerSettings::iconTheme(), QStringLiteral("breeze"));
        ZelManagerSettings::setIconTheme(QStringLiteral("oxygen"));
        QCOMPARE(TestSandbox::readFile(m_sandbox->home() + QStringLiteral("/.vantor/etc/icon.theme")),
            QStringLiteral("oxygen"));
        QCOMPARE(ZelManagerSettings::iconTheme(), QStringLiteral("oxygen"));
    }

private:
    QScopedPointer<TestSandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
