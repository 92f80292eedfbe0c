#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerErrorSummary.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestModalCloser.h"
#include "ui/ZelManagerApplyPanel.h"
#include "ui/ZelManagerErrorPanel.h"
#include "ui/ZelManagerOperationModel.h"

#include <QAction>
#include <QFileInfo>
#include <QHeaderView>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using Entry = TestApplyFixture::Entry;
using ErrorRecord = ZelManagerDatabase::ErrorRecord;

namespace {

const int RunTimeoutMs = 120000;

// The apply page as the window shows it: the panel below a title row whose
// button carries the panel's action.
struct ApplyPage
{
    QWidget window;
    ZelManagerApplyPanel *panel;
    QToolButton *workButton;

    ApplyPage()
    {
        auto *layout = new QVBoxLayout(&window);
        workButton = new QToolButton(&window);
        panel = new ZelManagerApplyPanel(&window);
        workButton->setDefaultAction(panel->panelActions().value(0));
        layout->addWidget(workButton);
        layout->addWidget(panel);
        window.resize(600, 400);
        window.show();
    }
    QString action() const { return workButton->defaultAction()->text(); }
};

ErrorRecord record(const QString &package, int kind, const QString &description)
{
    ErrorRecord error;
    error.package = package;
    error.kind = kind;
    error.description = description;
    return error;
}

} // namespace

class TestApplyPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void installsMarkedPackagesAndFinishes();
    void failedPackageShowsSummaryAndErrorTable();
    void stopDuringDownloadLeavesNothingInstalled();
    void summaryGroupsByPackage();
    void applyWaitsForARepositoryUpdate();

private:
    bool offer(const QString &name, const QStringList &dependencies, const QList<Entry> &files);

    std::unique_ptr<TestApplyFixture> m_fixture;
};

void TestApplyPanel::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
}

void TestApplyPanel::cleanup()
{
    m_fixture.reset();
}

bool TestApplyPanel::offer(const QString &name, const QStringList &dependencies, const QList<Entry> &files)
{
    if (!m_fixture->addPackage(TestApplyFixture::manifest(name, QStringLiteral("1.0"), dependencies), files)
        || !m_fixture->updateIndex()) {
        qWarning() << m_fixture->errorText();
        return false;
    }
    return true;
}

// A package with a dependency, applied from the page: the list shows both,
// the action turns into "&Stop" during the run, the files land, the page
// asks to be left, and the totals line reads all done.
void TestApplyPanel::installsMarkedPackagesAndFinishes()
{
    QVERIFY(offer(QStringLiteral("lib"), {}, { Entry(QStringLiteral("lib/lib.dll"), "lib") }));
    QVERIFY(offer(QStringLiteral("app"), { QStringLiteral("lib") }, { Entry(QStringLiteral("bin/app.exe"), "app") }));
    QCOMPARE(m_fixture->request(QStringLiteral("app"), TestApplyFixture::Install), QString());

    ApplyPage page;
    page.panel->updatePanelStates();
    QCOMPARE(page.panel->operationModel()->rowCount(), 2);
    QCOMPARE(page.action(), QStringLiteral("&Apply"));
    QSignalSpy finished(page.panel, &ZelManagerApplyPanel::finished);
    QSignalSpy state(page.panel, &ZelManagerApplyPanel::stateChanged);
    TestModalCloser closer;

    QTest::mouseClick(page.workButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(state.count() >= 1, RunTimeoutMs);
    QCOMPARE(state.at(0).at(0).toBool(), true);
    QCOMPARE(page.action(), QStringLiteral("&Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(!page.panel->isRunning(), RunTimeoutMs);

    QCOMPARE(page.action(), QStringLiteral("&Apply"));
    QCOMPARE(state.last().at(0).toBool(), false);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(closer.count(), 0);
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("bin/app.exe"))), QStringLiteral("app"));
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("lib/lib.dll"))), QStringLiteral("lib"));
    QVERIFY(m_fixture->database()->package(QStringLiteral("app")).isInstalled());
    QVERIFY(!m_fixture->database()->isInTransaction());
    QVERIFY2(page.panel->progressText().startsWith(QStringLiteral("2 of 2 packages done")),
        qPrintable(page.panel->progressText()));
}

// A package whose archive the server does not have: the run ends by itself
// with the summary box naming it (and the package that needed it), and the
// error page lists the same records, sortable, with full texts as tool tips.
void TestApplyPanel::failedPackageShowsSummaryAndErrorTable()
{
    QVERIFY(offer(QStringLiteral("dep"), {}, { Entry(QStringLiteral("lib/dep.dll"), "dep") }));
    QVERIFY(offer(QStringLiteral("tool"), { QStringLiteral("dep") }, { Entry(QStringLiteral("bin/tool.exe"), "t") }));
    QVERIFY(offer(QStringLiteral("zed"), {}, { Entry(QStringLiteral("bin/zed.exe"), "z") }));
    QVERIFY(m_fixture->server().setBehaviour(
        m_fixture->archiveUrlPath(QStringLiteral("dep"), QStringLiteral("1.0")), TestHttpServer::NotFound));
    QCOMPARE(m_fixture->request(QStringLiteral("tool"), TestApplyFixture::Install), QString());
    QCOMPARE(m_fixture->request(QStringLiteral("zed"), TestApplyFixture::Install), QString());

    ApplyPage page;
    ZelManagerErrorPanel errorPanel;
    page.panel->updatePanelStates();
    QSignalSpy finished(page.panel, &ZelManagerApplyPanel::finished);
    TestModalCloser closer;
    QTest::mouseClick(page.workButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(closer.count() == 1 && !page.panel->isRunning(), RunTimeoutMs);

    QCOMPARE(closer.titles().value(0), QStringLiteral("Apply Operations Error"));
    const QString text = closer.texts().value(0);
    QVERIFY2(
        text.startsWith(QStringLiteral("Errors occurred during applying operations:\n## Install package dep:\n   ")),
        qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("\n## Install package tool:\n   Not installed: it depends on dep")),
        qPrintable(text));
    QCOMPARE(text.count(QStringLiteral("## ")), 2);
    QCOMPARE(finished.count(), 0); // the failed packages stay listed
    QCOMPARE(page.action(), QStringLiteral("&Apply"));
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("bin/zed.exe"))), QStringLiteral("z"));
    QVERIFY(!QFileInfo::exists(m_fixture->file(QStringLiteral("bin/tool.exe"))));

    ZelManagerDatabase *database = m_fixture->database();
    QStandardItemModel *table = errorPanel.errorModel();
    QCOMPARE(table->rowCount(), database->errorCount());
    QCOMPARE(table->rowCount(), 2);
    auto *view = errorPanel.findChild<QTableView *>(QStringLiteral("errorTableView"));
    QVERIFY(view && view->isSortingEnabled());
    view->sortByColumn(ZelManagerErrorPanel::PackageColumn, Qt::DescendingOrder);
    QCOMPARE(table->item(0, ZelManagerErrorPanel::PackageColumn)->text(), QStringLiteral("tool"));
    QCOMPARE(table->item(0, ZelManagerErrorPanel::KindColumn)->text(), QStringLiteral("Install"));
    QCOMPARE(table->item(1, ZelManagerErrorPanel::PackageColumn)->text(), QStringLiteral("dep"));
    const ZelManagerDatabase::ErrorRecord first = database->error(database->errorIds().value(0));
    QCOMPARE(table->item(1, ZelManagerErrorPanel::DescriptionColumn)->toolTip(), first.description);

    // The next batch empties the list, and the page follows.
    database->beginTransaction();
    QCOMPARE(table->rowCount(), 0);
    database->addError(QStringLiteral("x"), 2, QStringLiteral("line one\nline two"));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, ZelManagerErrorPanel::KindColumn)->text(), QStringLiteral("Remove"));
    QCOMPARE(table->item(0, ZelManagerErrorPanel::DescriptionColumn)->text(), QStringLiteral("line one line two"));
    QCOMPARE(table->item(0, ZelManagerErrorPanel::DescriptionColumn)->toolTip(), QStringLiteral("line one\nline two"));
    database->endTransaction(false);
}

// "&Stop" while the archive trickles in: the run winds down, the action
// reads "&Apply" again, and nothing of the package is installed.
void TestApplyPanel::stopDuringDownloadLeavesNothingInstalled()
{
    QVERIFY(offer(QStringLiteral("big"), {}, { Entry(QStringLiteral("bin/big.bin"), QByteArray(200000, 'b')) }));
    QVERIFY(m_fixture->server().setBehaviour(
        m_fixture->archiveUrlPath(QStringLiteral("big"), QStringLiteral("1.0")), TestHttpServer::Trickle, 512, 50));
    QCOMPARE(m_fixture->request(QStringLiteral("big"), TestApplyFixture::Install), QString());

    ApplyPage page;
    page.panel->updatePanelStates();
    TestModalCloser closer;
    QTest::mouseClick(page.workButton, Qt::LeftButton);
    const ZelManagerPackage big = m_fixture->database()->package(QStringLiteral("big"));
    QTRY_VERIFY_WITH_TIMEOUT(big.status() == ZelManagerPackage::Downloading, RunTimeoutMs);
    QCOMPARE(page.action(), QStringLiteral("&Stop"));
    QTest::mouseClick(page.workButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!page.panel->isRunning(), RunTimeoutMs);

    QCOMPARE(page.action(), QStringLiteral("&Apply"));
    QVERIFY(!QFileInfo::exists(m_fixture->file(QStringLiteral("bin/big.bin"))));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("big")).isInstalled());
    QVERIFY(m_fixture->database()->package(QStringLiteral("big")).isInstallRequested());
    QVERIFY(!m_fixture->database()->isInTransaction());
}

void TestApplyPanel::summaryGroupsByPackage()
{
    const QList<ErrorRecord> errors { record(QStringLiteral("a"), 3, QStringLiteral("one")),
        record(QStringLiteral("a"), 3, QStringLiteral("two")), record(QStringLiteral("b"), 1, QStringLiteral("hidden")),
        record(QStringLiteral("b"), 2, QStringLiteral("three")),
        record(QStringLiteral("a"), 9, QStringLiteral("four")) };
    QCOMPARE(ZelManagerErrorSummary::text(errors),
        QStringLiteral("Errors occurred during applying operations:\n"
                       "## Install package a:\n   one\n   two\n"
                       "\n## Remove package b:\n   three\n"
                       "\n##  package a:\n   four\n"));
    QCOMPARE(ZelManagerErrorSummary::text({ record(QStringLiteral("b"), 1, QStringLiteral("hidden")) }), QString());
}

// While a repository update holds the batch, "&Apply" explains why it
// cannot start and leaves the batch to its owner.
void TestApplyPanel::applyWaitsForARepositoryUpdate()
{
    QVERIFY(offer(QStringLiteral("lib"), {}, { Entry(QStringLiteral("lib/lib.dll"), "lib") }));
    QCOMPARE(m_fixture->request(QStringLiteral("lib"), TestApplyFixture::Install), QString());
    ApplyPage page;
    page.panel->updatePanelStates();
    ZelManagerDatabase *database = m_fixture->database();
    database->beginTransaction();
    TestModalCloser closer;
    QTest::mouseClick(page.workButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, RunTimeoutMs);
    QCOMPARE(closer.titles().value(0), QStringLiteral("Apply Operations"));
    QVERIFY(!page.panel->isRunning());
    QCOMPARE(page.action(), QStringLiteral("&Apply"));
    QVERIFY(database->isInTransaction());
    database->endTransaction(true);
    QVERIFY(!database->package(QStringLiteral("lib")).isInstalled());
}

QTEST_MAIN(TestApplyPanel)
#include "tst_applypanel.moc"
