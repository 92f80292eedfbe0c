#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestApplyFixture.h"
#include "ui/ZelManagerPackageModel.h"
#include "ui/ZelManagerUpdateFilterModel.h"
#include "ui/ZelManagerUpdateModel.h"
#include "ui/ZelManagerUpdatePanel.h"

#include <QAction>
#include <QLabel>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using Entry = TestApplyFixture::Entry;

namespace {

const int CheckTimeoutMs = 60000;

// The update page with its title row, as the window shows it.
struct UpdatePage
{
    QWidget window;
    ZelManagerPackageModel packageModel;
    ZelManagerUpdatePanel *panel;
    QToolButton *upgradeAllButton;
    QToolButton *checkButton;

    UpdatePage()
    {
        auto *layout = new QVBoxLayout(&window);
        panel = new ZelManagerUpdatePanel(&packageModel, &window);
        upgradeAllButton = new QToolButton(&window);
        upgradeAllButton->setDefaultAction(panel->panelActions().value(0));
        checkButton = new QToolButton(&window);
        checkButton->setDefaultAction(panel->panelActions().value(1));
        layout->addWidget(upgradeAllButton);
        layout->addWidget(checkButton);
        layout->addWidget(panel);
        window.resize(600, 400);
        window.show();
    }
    QString page() const
    {
        return panel->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentWidget()->objectName();
    }
    QLabel *label(const char *name) const { return panel->findChild<QLabel *>(QLatin1String(name)); }
    // Presses "&Check Updates" and waits for the check to end.
    bool check()
    {
        QSignalSpy state(panel, &ZelManagerUpdatePanel::stateChanged);
        QTest::mouseClick(checkButton, Qt::LeftButton);
        if (state.isEmpty() || !state.first().at(0).toBool())
            return false;
        return (state.count() >= 2 || state.wait(CheckTimeoutMs)) && !state.last().at(0).toBool();
    }
};

} // namespace

class TestUpdatePanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void failingRepositoryIsNamedOthersImported();
    void deadServerKeepsPreviousPackages();
    void nothingToUpdateStillFinishesAutomaticCheck();
    void updateAllMarksUpgradablePackages();
    void checkLeavesAnApplyRunsBatchAlone();

private:
    bool serve(const QString &name, const QString &version);

    std::unique_ptr<TestApplyFixture> m_fixture;
};

void TestUpdatePanel::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
}

void TestUpdatePanel::cleanup()
{
    m_fixture.reset();
}

bool TestUpdatePanel::serve(const QString &name, const QString &version)
{
    const bool ok = m_fixture->addPackage(
        TestApplyFixture::manifest(name, version), { Entry(QStringLiteral("bin/%1.exe").arg(name), version.toUtf8()) });
    if (!ok)
        qWarning() << m_fixture->errorText();
    return ok;
}

// Two repositories, one answering 404: the other's packages arrive, the
// failing one is named with the reason, and a manual check never says
// checkingFinished().
void TestUpdatePanel::failingRepositoryIsNamedOthersImported()
{
    QVERIFY(serve(QStringLiteral("alpha"), QStringLiteral("1.0")));
    const QUrl missing(m_fixture->server().url().toString() + QStringLiteral("/missing"));
    ZelManagerSettings::instance()->setRepository(missing, QStringLiteral("Missing Repo"), true);

    UpdatePage page;
    QSignalSpy checkingFinished(page.panel, &ZelManagerUpdatePanel::checkingFinished);
    QVERIFY(page.check());

    ZelManagerDatabase *database = m_fixture->database();
    QVERIFY(!database->package(QStringLiteral("alpha")).isNull());
    QVERIFY(!database->isInTransaction());
    QCOMPARE(page.panel->failures().size(), 1);
    QCOMPARE(page.panel->failures().value(0).first, missing);
    const QString reason = page.panel->failures().value(0).second;
    QVERIFY(!reason.isEmpty());
    QVERIFY(page.label("failureLabel")->isVisible());
    QVERIFY(page.label("failureLabel")->text().contains(QStringLiteral("Missing Repo")));
    QVERIFY(page.label("failureLabel")->text().contains(reason));
    QCOMPARE(page.page(), QStringLiteral("statusPage"));
    QCOMPARE(page.label("statusLabel")->text(), QStringLiteral("The repositories that answered are updated."));
    QCOMPARE(checkingFinished.count(), 0);
}

// A repository updated once, then its server gone: the check reports the
// failure and the packages it offered are still there.
void TestUpdatePanel::deadServerKeepsPreviousPackages()
{
    QVERIFY(serve(QStringLiteral("alpha"), QStringLiteral("1.0")));
    UpdatePage page;
    QVERIFY(page.check());
    QVERIFY(page.panel->failures().isEmpty());
    QVERIFY(!page.label("failureLabel")->isVisible());
    QCOMPARE(page.label("statusLabel")->text(), QStringLiteral("All repositories are updated."));

    m_fixture->server().stop();
    QVERIFY(page.check());
    QCOMPARE(page.panel->failures().size(), 1);
    QVERIFY(page.label("failureLabel")->text().contains(page.panel->failures().value(0).second));
    const ZelManagerPackage alpha = m_fixture->database()->package(QStringLiteral("alpha"));
    QVERIFY(!alpha.isNull());
    QCOMPARE(alpha.availableVersion(), QStringLiteral("1.0"));
    QVERIFY(alpha.isInstallable());
}

// No enabled repository: the check ends at once, closes its batch, says why,
// and in the automatic mode still ends with checkingFinished().
void TestUpdatePanel::nothingToUpdateStillFinishesAutomaticCheck()
{
    ZelManagerSettings::instance()->setRepositoryEnabled(m_fixture->repository(), false);
    UpdatePage page;
    QSignalSpy state(page.panel, &ZelManagerUpdatePanel::stateChanged);
    QSignalSpy checkingFinished(page.panel, &ZelManagerUpdatePanel::checkingFinished);
    page.panel->checkAndApply();

    QCOMPARE(checkingFinished.count(), 1);
    QCOMPARE(state.count(), 2);
    QCOMPARE(state.last().at(0).toBool(), false);
    QVERIFY(!m_fixture->database()->isInTransaction());
    QCOMPARE(page.page(), QStringLiteral("statusPage"));
    QVERIFY(page.label("statusLabel")->text().contains(QStringLiteral("no enabled repository")));

    // The automatic mode ends with its check: a manual one after it is quiet.
    QVERIFY(page.check());
    QCOMPARE(checkingFinished.count(), 1);
}

// An installed package with a newer version served: the check lists it,
// "&Update All" asks to upgrade it and then to show the apply page.
void TestUpdatePanel::updateAllMarksUpgradablePackages()
{
    QVERIFY(serve(QStringLiteral("alpha"), QStringLiteral("1.0")));
    QVERIFY(serve(QStringLiteral("beta"), QStringLiteral("1.0")));
    QVERIFY(m_fixture->updateIndex());
    QCOMPARE(m_fixture->request(QStringLiteral("alpha"), TestApplyFixture::Install), QString());
    QCOMPARE(m_fixture->request(QStringLiteral("beta"), TestApplyFixture::Install), QString());
    ZelManagerApplyRun run;
    QVERIFY(run.exec());
    QVERIFY(serve(QStringLiteral("alpha"), QStringLiteral("2.0")));

    UpdatePage page;
    QVERIFY(!page.upgradeAllButton->isEnabled());
    QVERIFY(page.check());
    QCOMPARE(page.page(), QStringLiteral("packagePage"));
    QVERIFY(page.upgradeAllButton->isEnabled());
    QCOMPARE(page.panel->filterModel()->rowCount(), 1);

    ZelManagerDatabase *database = m_fixture->database();
    QStringList requested;
    connect(page.panel, &ZelManagerUpdatePanel::upgradeRequest, this, [&](const QString &name) {
        requested.append(name);
        database->beginTransaction();
        database->requestUpgrade(database->package(name), QString());
        database->endTransaction(false);
    });
    QSignalSpy showApply(page.panel, &ZelManagerUpdatePanel::showApplyRequest);
    QTest::mouseClick(page.upgradeAllButton, Qt::LeftButton);
    QCOMPARE(requested, QStringList { QStringLiteral("alpha") });
    QCOMPARE(showApply.count(), 1);
    QVERIFY(database->package(QStringLiteral("alpha")).isUpgradeRequested());
    QVERIFY(!database->package(QStringLiteral("beta")).isRequested());
}

// A check while another batch (an apply run) is open neither ends that
// batch nor replaces repository files under it.
void TestUpdatePanel::checkLeavesAnApplyRunsBatchAlone()
{
    QVERIFY(serve(QStringLiteral("alpha"), QStringLiteral("1.0")));
    ZelManagerDatabase *database = m_fixture->database();
    UpdatePage page;
    QSignalSpy checkingFinished(page.panel, &ZelManagerUpdatePanel::checkingFinished);
    database->beginTransaction();
    page.panel->checkAndApply();
    QVERIFY(database->isInTransaction());
    QCOMPARE(page.panel->updateModel()->count(), 0);
    QCOMPARE(checkingFinished.count(), 1);
    QVERIFY(page.label("statusLabel")->text().contains(QStringLiteral("while operations are being applied")));
    database->endTransaction(true);
    QVERIFY(database->package(QStringLiteral("alpha")).isNull());
}

QTEST_MAIN(TestUpdatePanel)
#include "tst_updatepanel.moc"
