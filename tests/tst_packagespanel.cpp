#include "database/ZelManagerDatabase.h"
#include "tests/support/TestPackageCatalogue.h"
#include "tests/support/TestPackageDatabase.h"
#include "ui/ZelManagerPackageDelegate.h"
#include "ui/ZelManagerPackageInfoPanel.h"
#include "ui/ZelManagerPackageModel.h"
#include "ui/ZelManagerPackagesPanel.h"

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>

namespace {

// What a modal dialog showed before the watcher closed it with its Ok button.
struct ShownDialog
{
    QString title;
    QString message;
    QString details;
};

// Polls for the next modal dialog or pop-up menu the code under test runs
// (both run their own event loop), lets the handler read it, and closes it.
class ModalWatcher : public QObject
{
public:
    using Handler = std::function<void(QWidget *)>;

    explicit ModalWatcher(Handler handler)
        : m_handler(std::move(handler))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    bool handled() const { return m_handled; }

private:
    void poll()
    {
        QWidget *widget = QApplication::activePopupWidget();
        if (!widget)
            widget = QApplication::activeModalWidget();
        if (!widget || m_handled)
            return;
        m_handled = true;
        m_timer.stop();
        m_handler(widget);
    }

    Handler m_handler;
    QTimer m_timer;
    bool m_handled = false;
};

ShownDialog readDialog(QWidget *dialog)
{
    ShownDialog shown;
    shown.title = dialog->windowTitle();
    shown.message = dialog->findChild<QLabel *>(QStringLiteral("messageLabel"))->text();
    shown.details = dialog->findChild<QPlainTextEdit *>(QStringLiteral("detailTextEdit"))->toPlainText();
    dialog->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    return shown;
}

QStringList menuTexts(QWidget *popup)
{
    QStringList texts;
    auto *menu = qobject_cast<QMenu *>(popup);
    if (!menu)
        return texts;
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions) {
        if (!action->isSeparator())
            texts.append(action->text());
    }
    menu->close();
    return texts;
}

} // namespace

class TestPackagesPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void operationMenuEnableRules();
    void markingThroughTheMenu();
    void refusalsShowTheFailureDialog();
    void overlayButtonsArmByPointerPosition();
    void informationPanelFields();
    void informationPanelActionButton();

private:
    QListView *view() const { return m_panel->findChild<QListView *>(QStringLiteral("packageListView")); }
    QAction *action(const char *name) const { return m_panel->findChild<QAction *>(QLatin1String(name)); }
    QModelIndex rowOf(const QString &name) const;
    void select(const QStringList &names);
    // The operation menu's actions that are enabled once it is about to show.
    QStringList enabledOperations();
    QPoint centre(const QRect &rect) const { return rect.center(); }
    void movePointer(const QPoint &position);

    TestPackageDatabase *m_fixture = nullptr;
    ZelManagerDatabase *m_database = nullptr;
    ZelManagerPackageModel *m_model = nullptr;
    ZelManagerPackagesPanel *m_panel = nullptr;
    ZelManagerPackageInfoPanel *m_info = nullptr;
};

void TestPackagesPanel::init()
{
    m_fixture = new TestPackageDatabase;
    m_database = TestPackageCatalogue::open(*m_fixture);
    m_model = new ZelManagerPackageModel;
    m_panel = new ZelManagerPackagesPanel(m_model);
    m_info = new ZelManagerPackageInfoPanel;
    m_panel->setInformationPanel(m_info);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, m_panel,
        &ZelManagerPackagesPanel::onPackagesRequestsChanged);
    m_panel->resize(600, 500);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel));
}

void TestPackagesPanel::cleanup()
{
    delete m_panel;
    delete m_info;
    delete m_model;
    delete m_fixture;
}

QModelIndex TestPackagesPanel::rowOf(const QString &name) const
{
    QAbstractItemModel *model = view()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data(Qt::EditRole).toString() == name)
            return model->index(row, 0);
    }
    return QModelIndex();
}

void TestPackagesPanel::select(const QStringList &names)
{
    QItemSelectionModel *selection = view()->selectionModel();
    selection->clear();
    for (const QString &name : names)
        selection->select(rowOf(name), QItemSelectionModel::Select);
}

QStringList TestPackagesPanel::enabledOperations()
{
    QMenu *menu = m_panel->panelActions().first()->menu();
    menu->popup(QPoint(0, 0));
    QStringList enabled;
    for (const char *name : { "installPackageAction", "upgradePackageAction", "removePackageAction",
             "reinstallPackageAction", "cancelPackageAction" }) {
        if (action(name)->isEnabled())
            enabled.append(QLatin1String(name));
    }
    menu->close();
    return enabled;
}

void TestPackagesPanel::movePointer(const QPoint &position)
{
    QMouseEvent move(QEvent::MouseMove, position, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view()->viewport(), &move);
}

void TestPackagesPanel::operationMenuEnableRules()
{
    select({});
    QVERIFY(!m_panel->panelActions().first()->isEnabled());
    QCOMPARE(enabledOperations(), QStringList());

    // One upgradable and one current installed package: nothing fits both.
    select({ QStringLiteral("beta"), QStringLiteral("gamma") });
    QVERIFY(m_panel->panelActions().first()->isEnabled());
    QCOMPARE(enabledOperations(), QStringList());

    select({ QStringLiteral("gamma") });
    QCOMPARE(enabledOperations(), QStringList({ "removePackageAction", "reinstallPackageAction" }));
    select({ QStringLiteral("beta") });
    QCOMPARE(
        enabledOperations(), QStringList({ "upgradePackageAction", "removePackageAction", "reinstallPackageAction" }));
    select({ QStringLiteral("alpha"), QStringLiteral("broken1") });
    QCOMPARE(enabledOperations(), QStringList({ "installPackageAction" }));

    // A marked package can only be cancelled, also within a mixed selection.
    select({ QStringLiteral("alpha") });
    action("installPackageAction")->trigger();
    select({ QStringLiteral("alpha"), QStringLiteral("broken1") });
    QCOMPARE(enabledOperations(), QStringList({ "cancelPackageAction" }));
}

void TestPackagesPanel::markingThroughTheMenu()
{
    QSignalSpy requests(m_database, &ZelManagerDatabase::packagesRequestsChanged);
    select({ QStringLiteral("alpha"), QStringLiteral("gamma") });
    action("installPackageAction")->trigger(); // only the package that is not installed
    QVERIFY(m_database->package(QStringLiteral("alpha")).isInstallRequested());
    QVERIFY(!m_database->package(QStringLiteral("gamma")).isRequested());

    select({ QStringLiteral("beta") });
    action("upgradePackageAction")->trigger();
    QVERIFY(m_database->package(QStringLiteral("beta")).isUpgradeRequested());
    QTRY_COMPARE(requests.count(), 1);
    QCOMPARE(requests.last().first().toInt(), 2);
    QVERIFY(action("cancelAllPackagesAction")->isEnabled());

    // The show filter lists exactly the marked packages.
    action("showRequestedAction")->trigger();
    QCOMPARE(view()->model()->rowCount(), 2);

    action("cancelAllPackagesAction")->trigger();
    QVERIFY(!m_database->package(QStringLiteral("alpha")).isRequested());
    QVERIFY(!m_database->package(QStringLiteral("beta")).isRequested());
    QCOMPARE(view()->model()->rowCount(), 0);
    QTRY_VERIFY(!action("cancelAllPackagesAction")->isEnabled());

    // Bookmarks toggle each selected package on its own and are stored.
    action("showAllAction")->trigger();
    m_database->package(QStringLiteral("gamma")).setBookmarked(true);
    select({ QStringLiteral("alpha"), QStringLiteral("gamma") });
    action("bookmarkPackageAction")->trigger();
    QVERIFY(m_database->package(QStringLiteral("alpha")).isBookmarked());
    QVERIFY(!m_database->package(QStringLiteral("gamma")).isBookmarked());
    m_database->reloadPackages();
    QVERIFY(m_database->package(QStringLiteral("alpha")).isBookmarked());
}

void TestPackagesPanel::refusalsShowTheFailureDialog()
{
    ShownDialog shown;
    {
        ModalWatcher watcher([&shown](QWidget *dialog) { shown = readDialog(dialog); });
        select({ QStringLiteral("broken1"), QStringLiteral("broken2"), QStringLiteral("broken3") });
        action("installPackageAction")->trigger();
        QVERIFY(watcher.handled());
    }
    QCOMPARE(shown.title, QStringLiteral("Install Failed"));
    QCOMPARE(shown.message, QStringLiteral("Totally 3 packages can not be installed!"));
    for (const QString &name : { QStringLiteral("broken1"), QStringLiteral("broken2"), QStringLiteral("broken3") })
        QVERIFY2(shown.details.contains(name), qPrintable(shown.details));
    QVERIFY(shown.details.contains(QStringLiteral("missing-lib")));
    QVERIFY(!m_database->package(QStringLiteral("broken1")).isRequested());

    // The information panel's action goes through the same dialog.
    m_info->showPackage(QStringLiteral("broken2"));
    auto *button = m_info->findChild<QPushButton *>(QStringLiteral("actionButton"));
    QCOMPARE(button->text(), QStringLiteral("&Install"));
    {
        ModalWatcher watcher([&shown](QWidget *dialog) { shown = readDialog(dialog); });
        button->click();
        QVERIFY(watcher.handled());
    }
    QCOMPARE(shown.message, QStringLiteral("Totally 1 package can not be installed!"));
    QVERIFY(shown.details.contains(QStringLiteral("broken2")));
    QVERIFY(!shown.details.contains(QStringLiteral("broken1")));
}

void TestPackagesPanel::overlayButtonsArmByPointerPosition()
{
    auto *delegate = qobject_cast<ZelManagerPackageDelegate *>(view()->itemDelegate());
    QVERIFY(delegate);
    const int size = delegate->buttonSize();
    QWidget *viewport = view()->viewport();

    // The right end of an installed, upgradable row opens its operation menu.
    QRect row = view()->visualRect(rowOf(QStringLiteral("beta")));
    QPoint operation = centre(ZelManagerPackageDelegate::operationRect(row, size));
    QStringList offered;
    {
        ModalWatcher watcher([&offered](QWidget *popup) { offered = menuTexts(popup); });
        movePointer(operation);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, operation);
        QTRY_VERIFY(watcher.handled());
    }
    QCOMPARE(offered, QStringList({ "Mark &Upgrade", "Mark &Remove", "Mark R&einstall" }));
    QCOMPARE(view()->currentIndex(), rowOf(QStringLiteral("beta")));

    // An uninstalled row offers install; once marked it also offers cancel.
    row = view()->visualRect(rowOf(QStringLiteral("alpha")));
    operation = centre(ZelManagerPackageDelegate::operationRect(row, size));
    {
        ModalWatcher watcher([this](QWidget *popup) {
            auto *menu = qobject_cast<QMenu *>(popup);
            QCOMPARE(menu->actions().size(), 1);
            QCOMPARE(menu->actions().first()->text(), QStringLiteral("Mark &Install"));
            menu->close();
        });
        movePointer(operation);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, operation);
        QTRY_VERIFY(watcher.handled());
    }
    select({ QStringLiteral("alpha") });
    action("installPackageAction")->trigger();
    {
        ModalWatcher watcher([&offered](QWidget *popup) { offered = menuTexts(popup); });
        movePointer(operation);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, operation);
        QTRY_VERIFY(watcher.handled());
    }
    QCOMPARE(offered, QStringList({ "&Cancel Request" }));

    // A little further left the click toggles the bookmark.
    const QPoint bookmark = centre(ZelManagerPackageDelegate::bookmarkRect(row, size));
    movePointer(bookmark);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, bookmark);
    QTRY_VERIFY(m_database->package(QStringLiteral("alpha")).isBookmarked());

    // Elsewhere a click only selects and shows the row.
    const QModelIndex gamma = rowOf(QStringLiteral("gamma"));
    const QPoint middle = view()->visualRect(gamma).center();
    {
        ModalWatcher watcher([](QWidget *popup) { popup->close(); });
        movePointer(middle);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, middle);
        QTest::qWait(300); // longer than the buttons' click animation
        QVERIFY(!watcher.handled());
    }
    QVERIFY(!m_database->package(QStringLiteral("gamma")).isBookmarked());
    QCOMPARE(view()->currentIndex(), gamma);
    QCOMPARE(m_info->packageName(), QStringLiteral("gamma"));

    // Leaving the list disarms both buttons: the next click on a row only
    // selects it.
    movePointer(bookmark);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(viewport, &leave);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, middle);
    QTest::qWait(300);
    QVERIFY(!m_database->package(QStringLiteral("gamma")).isBookmarked());
    QVERIFY(m_database->package(QStringLiteral("alpha")).isBookmarked());
}

void TestPackagesPanel::informationPanelFields()
{
    auto text = [this](const char *name) { return m_info->findChild<QLineEdit *>(QLatin1String(name))->text(); };
    m_info->showPackage(QStringLiteral("beta"));
    QCOMPARE(text("titleEdit"), QStringLiteral("beta"));
    QCOMPARE(text("installedVersionEdit"), QStringLiteral("1.0"));
    QCOMPARE(text("availableVersionEdit"), QStringLiteral("2.0"));
    QCOMPARE(text("availableHashEdit"), QStringLiteral("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"));
    QCOMPARE(text("availableTimeEdit"), QDateTime::fromSecsSinceEpoch(2000).toString("yyyy-MM-dd HH:mm:ss"));
    QCOMPARE(text("categoryEdit"), QStringLiteral("development/debuggers"));
    QCOMPARE(text("maintainerEdit"), QStringLiteral("Packager <p@example.org>"));

    m_info->showPackage(QStringLiteral("alpha"));
    QCOMPARE(text("installedVersionEdit"), QStringLiteral("Not installed"));
    QCOMPARE(text("installedTimeEdit"), QString());
    QCOMPARE(text("availableVersionEdit"), QStringLiteral("1.0"));

    m_info->showPackage(QStringLiteral("gamma"));
    auto *files = m_info->findChild<QListWidget *>(QStringLiteral("installedFilesListWidget"));
    QCOMPARE(files->count(), 2);
    QCOMPARE(files->item(0)->text(), QStringLiteral("bin/gamma.exe"));
    auto *dependencies = m_info->findChild<QListWidget *>(QStringLiteral("dependencyListWidget"));
    QCOMPARE(dependencies->count(), 1);
    QVERIFY(dependencies->item(0)->text().startsWith(QStringLiteral("beta")));
    // Every row shows without scrolling.
    QVERIFY(files->height() >= 2 * files->fontMetrics().height());

    // Following a dependency that no repository offers shows an empty state.
    m_info->showPackage(QStringLiteral("broken1"));
    QCOMPARE(dependencies->count(), 1);
    emit dependencies->itemActivated(dependencies->item(0));
    QCOMPARE(text("titleEdit"), QStringLiteral("missing-lib"));
    QCOMPARE(text("installedVersionEdit"), QStringLiteral("Not installed"));
    QCOMPARE(text("availableVersionEdit"), QStringLiteral("Not available"));
    auto *button = m_info->findChild<QPushButton *>(QStringLiteral("actionButton"));
    QCOMPARE(button->text(), QString());
    QVERIFY(!button->isEnabled());
}

void TestPackagesPanel::informationPanelActionButton()
{
    auto *button = m_info->findChild<QPushButton *>(QStringLiteral("actionButton"));
    m_info->showPackage(QStringLiteral("gamma"));
    QCOMPARE(button->text(), QStringLiteral("&Remove"));
    m_info->showPackage(QStringLiteral("beta"));
    QCOMPARE(button->text(), QStringLiteral("&Upgrade"));
    m_info->showPackage(QStringLiteral("alpha"));
    QCOMPARE(button->text(), QStringLiteral("&Install"));

    // Marking turns the button into a cancel at once, and back.
    button->click();
    QVERIFY(m_database->package(QStringLiteral("alpha")).isInstallRequested());
    QCOMPARE(button->text(), QStringLiteral("&Cancel"));
    button->click();
    QVERIFY(!m_database->package(QStringLiteral("alpha")).isRequested());
    QCOMPARE(button->text(), QStringLiteral("&Install"));

    // A mark made elsewhere shows once the database reports it.
    m_info->showPackage(QStringLiteral("beta"));
    m_database->requestUpgrade(m_database->package(QStringLiteral("beta")), QString());
    QTRY_COMPARE(button->text(), QStringLiteral("&Cancel"));
}

QTEST_MAIN(TestPackagesPanel)
#include "tst_packagespanel.moc"
