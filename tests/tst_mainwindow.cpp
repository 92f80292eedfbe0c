#include "app/ZelManager.h"
#include "database/ZelManagerDatabase.h"
#include "tests/support/TestPackageCatalogue.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerCategoryModel.h"
#include "ui/ZelManagerCategoryPanel.h"
#include "ui/ZelManagerContentPanel.h"
#include "ui/ZelManagerPackagesPanel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

namespace {

// A page of the kind other parts of the program add to the stack: a title,
// an icon and one action for the title row.
class OtherPage : public ZelManagerContentPanel
{
public:
    OtherPage()
    {
        setWindowTitle(QStringLiteral("Other Page"));
        m_action.setText(QStringLiteral("&Work"));
    }
    QList<QAction *> panelActions() const override { return { const_cast<QAction *>(&m_action) }; }

private:
    QAction m_action { nullptr };
};

QStringList buttonTexts(QWidget *frame)
{
    QStringList texts;
    const QList<QToolButton *> buttons = frame->findChildren<QToolButton *>();
    for (QToolButton *button : buttons)
        texts.append(button->text());
    return texts;
}

QStringList rowTexts(const QAbstractItemModel *model, int role = Qt::EditRole)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts.append(model->index(row, 0).data(role).toString());
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void titleRowFollowsThePage();
    void searchFiltersWithoutChangingThePage();
    void categoryDescentAndGoingBack();
    void narrowWindowFloatsTheCategoryColumn();
    void categoryPanelCounters();
    void closingStoresTheGeometry();

private:
    template <typename T> T *child(const char *name) const { return m_window->findChild<T *>(QLatin1String(name)); }
    QString title() const { return child<QLabel>("panelTitleLabel")->text(); }
    // The update page has a package list of the same name.
    QListView *packageList() const
    {
        return m_window->findChild<ZelManagerPackagesPanel *>()->findChild<QListView *>(
            QStringLiteral("packageListView"));
    }
    QAbstractItemModel *packages() const { return packageList()->model(); }
    void clickCategory(const QString &storedText);

    TestPackageDatabase *m_fixture = nullptr;
    ZelManagerDatabase *m_database = nullptr;
    ZelManager *m_window = nullptr;
};

void TestMainWindow::init()
{
    m_fixture = new TestPackageDatabase;
    m_database = TestPackageCatalogue::open(*m_fixture);
    m_window = new ZelManager;
    m_window->resize(1400, 700);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestMainWindow::cleanup()
{
    delete m_window; // takes the database and the settings store with it
    delete m_fixture;
}

void TestMainWindow::clickCategory(const QString &storedText)
{
    auto *view = child<QListView>("categoryListView");
    const QStringList rows = rowTexts(view->model());
    const int row = rows.indexOf(storedText);
    QVERIFY2(row >= 0, qPrintable(rows.join(QLatin1Char('|'))));
    const QModelIndex index = view->model()->index(row, 0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
}

void TestMainWindow::titleRowFollowsThePage()
{
    QCOMPARE(title(), QStringLiteral("All Packages"));
    QWidget *actions = child<QWidget>("panelActionsFrame");
    QCOMPARE(buttonTexts(actions), QStringList({ "Operation", "Show", "Sort:Name" }));
    QCOMPARE(packages()->rowCount(), 6);

    auto *stack = child<QStackedWidget>("contentStackedWidget");
    OtherPage *other = new OtherPage;
    stack->addWidget(other);
    stack->setCurrentWidget(other);
    QCOMPARE(title(), QStringLiteral("Other Page"));
    QCOMPARE(buttonTexts(actions), QStringList({ "Work" }));

    // A widget that is no content page leaves the row as it is.
    QWidget *plain = new QWidget;
    stack->addWidget(plain);
    stack->setCurrentWidget(plain);
    QCOMPARE(title(), QStringLiteral("Other Page"));

    QTest::mouseClick(child<QToolButton>("homeButton"), Qt::LeftButton);
    QCOMPARE(title(), QStringLiteral("All Packages"));
    QCOMPARE(buttonTexts(actions), QStringList({ "Operation", "Show", "Sort:Name" }));

    // The sort menu's title follows the chosen sort.
    m_window->findChild<QAction *>(QStringLiteral("sortByDateAction"))->trigger();
    QCOMPARE(buttonTexts(actions), QStringList({ "Operation", "Show", "Sort:Date" }));
}

void TestMainWindow::searchFiltersWithoutChangingThePage()
{
    auto *stack = child<QStackedWidget>("contentStackedWidget");
    OtherPage *other = new OtherPage;
    stack->addWidget(other);
    stack->setCurrentWidget(other);

    auto *filter = child<QLineEdit>("filterEdit");
    QTest::keyClicks(filter, QStringLiteral("  broken "));
    QTest::keyClick(filter, Qt::Key_Return);
    QCOMPARE(stack->currentWidget(), other);
    QCOMPARE(rowTexts(packages()), QStringList({ "broken1", "broken2", "broken3" }));

    // Searching in a description too; the first row is selected.
    stack->setCurrentIndex(0);
    filter->clear();
    QTest::keyClicks(filter, QStringLiteral("debugger"));
    QTest::keyClick(filter, Qt::Key_Return);
    QCOMPARE(rowTexts(packages()), QStringList({ "beta" }));
    QCOMPARE(packageList()->currentIndex().row(), 0);
}

void TestMainWindow::categoryDescentAndGoingBack()
{
    auto *categories = child<QListView>("categoryListView");
    QCOMPARE(rowTexts(categories->model()), QStringList({ "development >", "utilities" }));

    clickCategory(QStringLiteral("development >"));
    QCOMPARE(title(), QStringLiteral("/development"));
    QCOMPARE(rowTexts(categories->model()), QStringList({ "", "compilers", "debuggers" }));
    QCOMPARE(rowTexts(packages()), QStringList({ "alpha", "beta" }));

    clickCategory(QStringLiteral("compilers"));
    QCOMPARE(title(), QStringLiteral("/development/compilers"));
    QCOMPARE(rowTexts(packages()), QStringList({ "alpha" }));
    // The level stays where it is for a leaf.
    QCOMPARE(rowTexts(categories->model()), QStringList({ "", "compilers", "debuggers" }));

    clickCategory(QString()); // the go-back row
    QCOMPARE(title(), QStringLiteral("All Packages"));
    QCOMPARE(rowTexts(categories->model()), QStringList({ "development >", "utilities" }));
    QCOMPARE(packages()->rowCount(), 6);

    clickCategory(QStringLiteral("utilities"));
    QCOMPARE(title(), QStringLiteral("/utilities"));
    QCOMPARE(rowTexts(packages()), QStringList({ "broken1", "broken2", "broken3", "gamma" }));
    QTest::mouseClick(child<QToolButton>("homeButton"), Qt::LeftButton);
    QCOMPARE(title(), QStringLiteral("All Packages"));
    QCOMPARE(packages()->rowCount(), 6);
}

void TestMainWindow::narrowWindowFloatsTheCategoryColumn()
{
    QWidget *category = child<QWidget>("categoryFrame");
    QWidget *content = child<QWidget>("contentFrame");
    QWidget *menu = child<QWidget>("menuButton");
    auto *layout = child<QHBoxLayout>("mainLayout");
    QVERIFY(category->isVisible());
    QVERIFY(!menu->isVisible());

    const int threshold
        = category->sizeHint().width() + child<QWidget>("vline1")->sizeHint().width() + content->sizeHint().width();
    m_window->resize(threshold - 20, 600);
    QTRY_VERIFY(!menu->isHidden());
    QVERIFY(!category->isVisible());
    QCOMPARE(layout->indexOf(category), -1);
    // The information column, shown before, stands in for the content until
    // the user returns from it.
    QWidget *information = child<QWidget>("ZelManagerPackageInfoPanel");
    QVERIFY(information->isVisible());
    QVERIFY(!content->isVisible());
    QTest::mouseClick(information->findChild<QToolButton *>(QStringLiteral("returnButton")), Qt::LeftButton);
    QVERIFY(content->isVisible());
    QVERIFY(!information->isVisible());
    QVERIFY(menu->isVisible());

    QTest::mouseClick(child<QToolButton>("menuButton"), Qt::LeftButton);
    QVERIFY(category->isVisible());
    QCOMPARE(category->geometry().topLeft(), QPoint(0, 0));
    QCOMPARE(category->height(), m_window->height());
    // Choosing a category hides it again.
    clickCategory(QStringLiteral("utilities"));
    QVERIFY(!category->isVisible());
    QCOMPARE(title(), QStringLiteral("/utilities"));

    m_window->resize(1400, 700);
    QTRY_VERIFY(!menu->isVisible());
    QVERIFY(category->isVisible());
    QCOMPARE(layout->indexOf(category), 0);
    QVERIFY(content->isVisible());
}

void TestMainWindow::categoryPanelCounters()
{
    ZelManagerCategoryModel model;
    ZelManagerCategoryPanel panel(&model);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, &panel,
        &ZelManagerCategoryPanel::onPackagesRequestsChanged);
    connect(m_database, &ZelManagerDatabase::errorsChanged, &panel, &ZelManagerCategoryPanel::onErrorsChanged);
    panel.show();
    auto *apply = panel.findChild<QToolButton *>(QStringLiteral("applyButton"));
    auto *errors = panel.findChild<QToolButton *>(QStringLiteral("errorButton"));
    QVERIFY(!apply->isVisible());
    QVERIFY(!errors->isVisible());

    m_database->requestInstall(m_database->package(QStringLiteral("alpha")));
    m_database->requestUpgrade(m_database->package(QStringLiteral("beta")), QString());
    QTRY_VERIFY(apply->isVisible());
    QCOMPARE(apply->text(), QStringLiteral("&Apply [2 Operations]"));
    panel.onApplyPanelStateChanged(true);
    QCOMPARE(apply->text(), QStringLiteral("&Applying [2 Operations] ..."));

    m_database->addError(QStringLiteral("alpha"), ZelManagerDatabase::ErrorInstall, QStringLiteral("one"));
    m_database->addError(QStringLiteral("alpha"), ZelManagerDatabase::ErrorInstall, QStringLiteral("two"));
    QTRY_VERIFY(errors->isVisible());
    QCOMPARE(errors->text(), QStringLiteral("&Errors [2 messages]"));

    // The window hides the buttons of pages it does not have.
    panel.setPageAvailable(ZelManagerCategoryPanel::ApplyPage, false);
    QVERIFY(!apply->isVisible());
}

void TestMainWindow::closingStoresTheGeometry()
{
    m_window->resize(1234, 654);
    QTRY_COMPARE(m_window->width(), 1234);
    delete m_window; // saves the settings store into the sandbox
    m_window = nullptr;
    m_window = new ZelManager;
    QCOMPARE(m_window->size(), QSize(1234, 654));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
