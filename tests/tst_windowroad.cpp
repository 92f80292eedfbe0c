#include "app/ZelManager.h"
#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestModalCloser.h"
#include "ui/ZelManagerApplyPanel.h"
#include "ui/ZelManagerErrorPanel.h"
#include "ui/ZelManagerPackagesPanel.h"
#include "ui/ZelManagerUpdatePanel.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QToolButton>
#include <QtTest>

#include <memory>

using Entry = TestApplyFixture::Entry;

namespace {

const int RoadTimeoutMs = 120000;

} // namespace

// What a user does from the first start: the window imports the served
// repository by itself, a package with a dependency is marked and applied
// from the apply page, and a package whose archive is missing ends its run
// with the summary box and an entry on the error page.
class TestWindowRoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartMarkApplyAndFail();
    void updateAllAppliesAndReturnsToTheUpdatePage();
    void importFromTheToolsPageReturnsThere();

private:
    template <typename T> T *child(const char *name) const { return m_window->findChild<T *>(QLatin1String(name)); }
    QString title() const { return child<QLabel>("panelTitleLabel")->text(); }
    QWidget *currentPage() const { return child<QStackedWidget>("contentStackedWidget")->currentWidget(); }
    QToolButton *titleButton(const QString &text) const;
    void mark(const QString &name);

    std::unique_ptr<TestApplyFixture> m_fixture;
    ZelManager *m_window = nullptr;
};

void TestWindowRoad::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
}

void TestWindowRoad::cleanup()
{
    delete m_window;
    m_window = nullptr;
    m_fixture.reset();
}

QToolButton *TestWindowRoad::titleButton(const QString &text) const
{
    const QList<QToolButton *> buttons = child<QWidget>("panelActionsFrame")->findChildren<QToolButton *>();
    for (QToolButton *button : buttons) {
        if (button->defaultAction() && button->defaultAction()->text() == text)
            return button;
    }
    return nullptr;
}

// Selects the package in the list and chooses "Mark Install".
void TestWindowRoad::mark(const QString &name)
{
    auto *list
        = m_window->findChild<ZelManagerPackagesPanel *>()->findChild<QListView *>(QStringLiteral("packageListView"));
    const QAbstractItemModel *model = list->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (index.data(Qt::EditRole).toString() == name) {
            list->setCurrentIndex(index);
            list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
        }
    }
    QAction *install = m_window->findChild<QAction *>(QStringLiteral("installPackageAction"));
    install->setEnabled(true);
    install->trigger();
}

void TestWindowRoad::firstStartMarkApplyAndFail()
{
    const auto manifest = &TestApplyFixture::manifest;
    QVERIFY(m_fixture->addPackage(
        manifest(QStringLiteral("lib"), QStringLiteral("1.0"), {}), { Entry(QStringLiteral("lib/lib.dll"), "lib") }));
    QVERIFY(m_fixture->addPackage(manifest(QStringLiteral("app"), QStringLiteral("1.0"), { QStringLiteral("lib") }),
        { Entry(QStringLiteral("bin/app.exe"), "app") }));
    QVERIFY(m_fixture->addPackage(
        manifest(QStringLiteral("bad"), QStringLiteral("1.0"), {}), { Entry(QStringLiteral("bin/bad.exe"), "bad") }));
    QVERIFY(m_fixture->database()->packages().isEmpty());

    // First start: the update page, then all packages once imported.
    m_window = new ZelManager;
    m_window->resize(1400, 700);
    m_window->show();
    QVERIFY(qobject_cast<ZelManagerUpdatePanel *>(currentPage()));
    QCOMPARE(title(), QStringLiteral("Update"));
    QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("All Packages"), RoadTimeoutMs);
    QCOMPARE(m_fixture->database()->packages().size(), 3);

    // Marking a package with a dependency counts two operations.
    mark(QStringLiteral("app"));
    auto *applyButton = child<QToolButton>("applyButton");
    QTRY_VERIFY_WITH_TIMEOUT(applyButton->isVisible(), RoadTimeoutMs);
    QCOMPARE(applyButton->text(), QStringLiteral("&Apply [2 Operations]"));
    QTest::mouseClick(applyButton, Qt::LeftButton);
    QVERIFY(qobject_cast<ZelManagerApplyPanel *>(currentPage()));
    QCOMPARE(title(), QStringLiteral("Apply"));
    QToolButton *work = titleButton(QStringLiteral("&Apply"));
    QVERIFY(work);
    TestModalCloser closer;
    QTest::mouseClick(work, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(applyButton->text(), QStringLiteral("&Applying [2 Operations] ..."), RoadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("All Packages"), RoadTimeoutMs);
    auto *applyPanel = m_window->findChild<ZelManagerApplyPanel *>();
    QTRY_VERIFY_WITH_TIMEOUT(!applyPanel->isRunning(), RoadTimeoutMs);
    QCOMPARE(closer.count(), 0);
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("bin/app.exe"))), QStringLiteral("app"));
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("lib/lib.dll"))), QStringLiteral("lib"));
    QTRY_VERIFY_WITH_TIMEOUT(!applyButton->isVisible(), RoadTimeoutMs);

    // A package whose archive is gone: the run ends by itself with the box.
    QVERIFY(m_fixture->server().setBehaviour(
        m_fixture->archiveUrlPath(QStringLiteral("bad"), QStringLiteral("1.0")), TestHttpServer::NotFound));
    mark(QStringLiteral("bad"));
    QTRY_VERIFY_WITH_TIMEOUT(applyButton->isVisible(), RoadTimeoutMs);
    QTest::mouseClick(applyButton, Qt::LeftButton);
    QTest::mouseClick(titleButton(QStringLiteral("&Apply")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(closer.count() == 1 && !applyPanel->isRunning(), RoadTimeoutMs);
    QCOMPARE(closer.titles().value(0), QStringLiteral("Apply Operations Error"));
    QVERIFY2(closer.texts().value(0).contains(QStringLiteral("## Install package bad:\n   ")),
        qPrintable(closer.texts().value(0)));
    QVERIFY(qobject_cast<ZelManagerApplyPanel *>(currentPage()));
    QVERIFY(titleButton(QStringLiteral("&Apply")));

    auto *errorButton = child<QToolButton>("errorButton");
    QVERIFY(errorButton->isVisible());
    QCOMPARE(errorButton->text(), QStringLiteral("&Errors [1 messages]"));
    QTest::mouseClick(errorButton, Qt::LeftButton);
    auto *errorPanel = qobject_cast<ZelManagerErrorPanel *>(currentPage());
    QVERIFY(errorPanel);
    QCOMPARE(errorPanel->errorModel()->rowCount(), 1);
    QCOMPARE(errorPanel->errorModel()->item(0, ZelManagerErrorPanel::PackageColumn)->text(), QStringLiteral("bad"));
}

// An installed package with a newer version served: check, "&Update All",
// apply, and the window comes back to the update page.
void TestWindowRoad::updateAllAppliesAndReturnsToTheUpdatePage()
{
    QVERIFY(m_fixture->addPackage(TestApplyFixture::manifest(QStringLiteral("lib"), QStringLiteral("1.0")),
        { Entry(QStringLiteral("lib/lib.dll"), "one") }));
    QVERIFY(m_fixture->updateIndex());
    QCOMPARE(m_fixture->request(QStringLiteral("lib"), TestApplyFixture::Install), QString());
    QVERIFY(ZelManagerApplyRun().exec());
    QVERIFY(m_fixture->addPackage(TestApplyFixture::manifest(QStringLiteral("lib"), QStringLiteral("2.0")),
        { Entry(QStringLiteral("lib/lib.dll"), "two") }));

    m_window = new ZelManager;
    m_window->resize(1400, 700);
    m_window->show();
    QCOMPARE(title(), QStringLiteral("All Packages"));
    QTest::mouseClick(child<QToolButton>("updateButton"), Qt::LeftButton);
    QCOMPARE(title(), QStringLiteral("Update"));
    QTest::mouseClick(titleButton(QStringLiteral("&Check Updates")), Qt::LeftButton);
    QToolButton *upgradeAll = titleButton(QStringLiteral("&Update All"));
    QTRY_VERIFY_WITH_TIMEOUT(upgradeAll->isEnabled(), RoadTimeoutMs);
    QTest::mouseClick(upgradeAll, Qt::LeftButton);
    QCOMPARE(title(), QStringLiteral("Apply"));
    QVERIFY(m_fixture->database()->package(QStringLiteral("lib")).isUpgradeRequested());

    TestModalCloser closer;
    QTest::mouseClick(titleButton(QStringLiteral("&Apply")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Update"), RoadTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->findChild<ZelManagerApplyPanel *>()->isRunning(), RoadTimeoutMs);
    QCOMPARE(closer.count(), 0);
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("lib/lib.dll"))), QStringLiteral("two"));
    QCOMPARE(m_fixture->database()->package(QStringLiteral("lib")).installedVersion(), QStringLiteral("2.0"));
}

// A package selection imported on the tools page: the window shows the run
// on the apply page and comes back to the tools page.
void TestWindowRoad::importFromTheToolsPageReturnsThere()
{
    QVERIFY(m_fixture->addPackage(TestApplyFixture::manifest(QStringLiteral("lib"), QStringLiteral("1.0")),
        { Entry(QStringLiteral("lib/lib.dll"), "one") }));
    QVERIFY(m_fixture->updateIndex());
    const QString selection = m_fixture->sandbox().path() + QStringLiteral("/selection.xml");
    QVERIFY(TestSandbox::writeFile(selection, "<packages><package>lib</package></packages>"));

    m_window = new ZelManager;
    m_window->resize(1400, 700);
    m_window->show();
    QTest::mouseClick(child<QToolButton>("toolsButton"), Qt::LeftButton);
    QCOMPARE(title(), QStringLiteral("Tools"));
    TestModalCloser closer([&](QWidget *modal) {
        if (auto *files = qobject_cast<QFileDialog *>(modal)) {
            files->selectFile(selection);
            static_cast<QDialog *>(files)->accept();
        } else if (modal->inherits("ZelManagerMessageDlg")) {
            modal->findChild<QPushButton *>(QStringLiteral("applyButton"))->click();
        }
    });
    QTest::mouseClick(child<QPushButton>("importPackageListButton"), Qt::LeftButton);
    QCOMPARE(closer.titles(), QStringList({ "Open Package Selection", "Restore package selection" }));
    QCOMPARE(title(), QStringLiteral("Apply"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->findChild<ZelManagerApplyPanel *>()->isRunning(), RoadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Tools"), RoadTimeoutMs);
    QCOMPARE(TestSandbox::readFile(m_fixture->file(QStringLiteral("lib/lib.dll"))), QStringLiteral("one"));
}

QTEST_MAIN(TestWindowRoad)
#include "tst_windowroad.moc"
