#include "settings/ZelManagerSettings.h"
#include "tests/support/TestModalCloser.h"
#include "tests/support/TestSandbox.h"
#include "ui/ZelManagerAboutPanel.h"
#include "ui/ZelManagerPreferencePanel.h"
#include "ui/ZelManagerRepositoryDlg.h"
#include "ui/ZelManagerRepositoryModel.h"

#include <QAction>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

const QUrl First(QStringLiteral("http://first.example.org/repo"));
const QUrl Second(QStringLiteral("http://second.example.org/repo"));

QPushButton *okButton(QWidget *dialog)
{
    return dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok);
}

QLineEdit *edit(QWidget *dialog, const char *name)
{
    return dialog->findChild<QLineEdit *>(QLatin1String(name));
}

// Fills the repository dialog as a user would and presses OK.
TestModalCloser::Handler fillDialog(const QString &label, const QString &url)
{
    return [label, url](QWidget *dialog) {
        edit(dialog, "labelEdit")->clear();
        QTest::keyClicks(edit(dialog, "labelEdit"), label);
        edit(dialog, "urlEdit")->clear();
        QTest::keyClicks(edit(dialog, "urlEdit"), url);
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
    };
}

} // namespace

class TestPreferencePanel : public QObject
{
    Q_OBJECT

public slots:
    // The desktop's URL handler for "https" while the about test runs.
    void openUrl(const QUrl &url) { m_openedUrls.append(url); }

private slots:
    void init();
    void cleanup();

    void repositoriesAreEditedWithTheRowButtons();
    void repositoryDialogAcceptsOnlyChanges();
    void clearingTheCacheKeepsOtherFiles();
    void aboutPanelNamesVersions();

private:
    // Moves the pointer over a row of the repository list.
    void hover(int row);
    void click(QToolButton *button, const TestModalCloser::Handler &handler = TestModalCloser::Handler());

    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<QWidget> m_window;
    ZelManagerPreferencePanel *m_panel = nullptr;
    QListView *m_list = nullptr;
    ZelManagerSettings *m_settings = nullptr;
    QList<QUrl> m_openedUrls;
};

void TestPreferencePanel::init()
{
    m_sandbox.reset(new TestSandbox);
    m_settings = ZelManagerSettings::instance();
    m_settings->clearRepositories();
    m_window.reset(new QWidget);
    m_panel = new ZelManagerPreferencePanel(m_window.get());
    m_list = m_panel->findChild<QListView *>(QStringLiteral("repositoryListView"));
    m_window->resize(640, 800);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestPreferencePanel::cleanup()
{
    m_window.reset();
    ZelManagerSettings::cleanup();
    m_sandbox.reset();
}

void TestPreferencePanel::hover(int row)
{
    const QPoint position = m_list->visualRect(m_list->model()->index(row, 0)).center();
    QMouseEvent move(QEvent::MouseMove, position, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_list->viewport(), &move);
}

void TestPreferencePanel::click(QToolButton *button, const TestModalCloser::Handler &handler)
{
    TestModalCloser closer(handler);
    QTest::mouseClick(button, Qt::LeftButton);
}

// Add, edit (to a new URL), disable, enable and remove through the buttons
// over the rows; each change is in the settings store and survives it.
void TestPreferencePanel::repositoriesAreEditedWithTheRowButtons()
{
    ZelManagerRepositoryModel *model = m_panel->repositoryModel();
    QCOMPARE(model->rowCount(), 1);
    hover(0);
    QVERIFY(m_panel->createButton()->isVisible());
    QVERIFY(!m_panel->editButton()->isVisible());
    click(m_panel->createButton(), fillDialog(QStringLiteral("First"), First.toString()));
    QVERIFY(m_settings->hasRepository(First));
    QVERIFY(m_settings->isRepositoryEnabled(First));
    QCOMPARE(m_settings->repositoryLabel(First), QStringLiteral("First"));
    QCOMPARE(model->rowCount(), 2);

    // Disabled, then edited to another address: the state goes along and the
    // old address is gone.
    hover(0);
    QVERIFY(m_panel->enableButton()->isVisible() && m_panel->removeButton()->isVisible());
    QVERIFY(!m_panel->createButton()->isVisible());
    click(m_panel->enableButton());
    QVERIFY(!m_settings->isRepositoryEnabled(First));
    hover(0);
    QVERIFY(m_panel->editButton()->isVisible());
    click(m_panel->editButton(), fillDialog(QStringLiteral("Renamed"), Second.toString()));
    QCOMPARE(m_settings->repositories(), QList<QUrl> { Second });
    QCOMPARE(m_settings->repositoryLabel(Second), QStringLiteral("Renamed"));
    QVERIFY(!m_settings->isRepositoryEnabled(Second));
    hover(0);
    click(m_panel->enableButton());
    QVERIFY(m_settings->isRepositoryEnabled(Second));

    // Adding a known address changes its label and keeps its state.
    hover(1);
    click(m_panel->createButton(), fillDialog(QStringLiteral("Again"), Second.toString()));
    QCOMPARE(m_settings->repositories().size(), 1);
    QCOMPARE(m_settings->repositoryLabel(Second), QStringLiteral("Again"));

    hover(1);
    click(m_panel->createButton(), fillDialog(QStringLiteral("First"), First.toString()));
    QCOMPARE(model->rowCount(), 3);
    m_window.reset();
    ZelManagerSettings::cleanup();
    m_settings = ZelManagerSettings::instance();
    QCOMPARE(m_settings->repositories().size(), 2);
    QCOMPARE(m_settings->repositoryLabel(Second), QStringLiteral("Again"));
    QVERIFY(m_settings->isRepositoryEnabled(First));

    // Both selected: no edit button, and one click removes both.
    m_window.reset(new QWidget);
    m_panel = new ZelManagerPreferencePanel(m_window.get());
    m_list = m_panel->findChild<QListView *>(QStringLiteral("repositoryListView"));
    m_window->show();
    m_list->selectAll();
    QCOMPARE(m_list->selectionModel()->selectedRows().size(), 2);
    hover(0);
    QVERIFY(!m_panel->editButton()->isVisible());
    QVERIFY(m_panel->removeButton()->isVisible());
    click(m_panel->removeButton());
    QVERIFY(m_settings->repositories().isEmpty());
    QCOMPARE(m_panel->repositoryModel()->rowCount(), 1);
    QVERIFY(!m_panel->removeButton()->isVisible() && !m_panel->enableButton()->isVisible());
}

void TestPreferencePanel::repositoryDialogAcceptsOnlyChanges()
{
    ZelManagerRepositoryDlg dialog;
    QVERIFY(!okButton(&dialog)->isEnabled());
    dialog.setUrl(First);
    dialog.setLabel(QStringLiteral("  First "));
    QCOMPARE(edit(&dialog, "labelEdit")->text(), QStringLiteral("First"));
    QVERIFY(!okButton(&dialog)->isEnabled());
    QTest::keyClicks(edit(&dialog, "labelEdit"), QStringLiteral("  "));
    QVERIFY(!okButton(&dialog)->isEnabled());
    QTest::keyClicks(edit(&dialog, "labelEdit"), QStringLiteral("x"));
    QVERIFY(okButton(&dialog)->isEnabled());
    edit(&dialog, "labelEdit")->setText(QStringLiteral("First"));
    QVERIFY(!okButton(&dialog)->isEnabled());
    edit(&dialog, "urlEdit")->clear();
    QVERIFY(!okButton(&dialog)->isEnabled());
    edit(&dialog, "urlEdit")->setText(QStringLiteral(" http://other.example.org/r "));
    QVERIFY(okButton(&dialog)->isEnabled());
    QCOMPARE(dialog.url(), QUrl(QStringLiteral("http://other.example.org/r")));
    dialog.setUrl(QUrl(QStringLiteral("http://[bad")));
    QCOMPARE(edit(&dialog, "urlEdit")->text(), QStringLiteral(" http://other.example.org/r "));
}

void TestPreferencePanel::clearingTheCacheKeepsOtherFiles()
{
    QCOMPARE(m_panel->findChild<QLineEdit *>(QStringLiteral("cacheFolderEdit"))->text(), m_settings->cachePath());
    const QString cache = m_sandbox->path() + QStringLiteral("/cache");
    QVERIFY(TestSandbox::writeFile(cache + QStringLiteral("/a_1_i686_x-1.cache"), "a"));
    QVERIFY(TestSandbox::writeFile(cache + QStringLiteral("/notes.txt"), "n"));
    QVERIFY(TestSandbox::writeFile(cache + QStringLiteral("/sub/b.cache"), "b"));
    m_settings->setCachePath(cache);
    QTest::mouseClick(m_panel->findChild<QPushButton *>(QStringLiteral("clearCacheFolderButton")), Qt::LeftButton);
    QVERIFY(!QFileInfo::exists(cache + QStringLiteral("/a_1_i686_x-1.cache")));
    QVERIFY(QFileInfo::exists(cache + QStringLiteral("/notes.txt")));
    QVERIFY(QFileInfo::exists(cache + QStringLiteral("/sub/b.cache")));
    QCOMPARE(m_panel->findChild<QPushButton *>(QStringLiteral("clearCacheFolderButton"))->text(),
        QStringLiteral("C&lear Cached Files"));

    // A folder typed into the edit is taken when the user leaves it.
    auto *folderEdit = m_panel->findChild<QLineEdit *>(QStringLiteral("cacheFolderEdit"));
    folderEdit->setText(m_sandbox->path() + QStringLiteral("/other"));
    emit folderEdit->editingFinished();
    QCOMPARE(m_settings->cachePath(), m_sandbox->path() + QStringLiteral("/other"));
}

void TestPreferencePanel::aboutPanelNamesVersions()
{
    QCOMPARE(ZelManagerAboutPanel::parseBuildDate(QStringLiteral("Jan  4 2024")), QDate(2024, 1, 4));
    QCOMPARE(ZelManagerAboutPanel::parseBuildDate(QStringLiteral("Dec 31 1999")), QDate(1999, 12, 31));
    QVERIFY(!ZelManagerAboutPanel::parseBuildDate(QStringLiteral("soon")).isValid());

    ZelManagerAboutPanel about;
    const QString title = about.findChild<QLabel *>(QStringLiteral("titleLabel"))->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^Vantor Package Manager V2\\.0\\.20\\d{6}$")).match(title).hasMatch(),
        qPrintable(title));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("qtLabel"))->text(), QStringLiteral("Qt " QT_VERSION_STR));
    for (const char *name : { "sqlite3Label", "libarchiveLabel" }) {
        const QString text = about.findChild<QLabel *>(QLatin1String(name))->text();
        QVERIFY2(QRegularExpression(QStringLiteral(" \\d+\\.\\d+\\.\\d+$")).match(text).hasMatch(), qPrintable(text));
    }

    QCOMPARE(about.panelActions().size(), 1);
    QAction *report = about.panelActions().value(0);
    QCOMPARE(report->text(), QStringLiteral("&Report Bugs ..."));
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    report->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(m_openedUrls, QList<QUrl> { ZelManagerAboutPanel::bugReportUrl() });
}

QTEST_MAIN(TestPreferencePanel)
#include "tst_preferencepanel.moc"
