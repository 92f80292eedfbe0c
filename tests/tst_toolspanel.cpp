#include "app/ZelManagerMessageDlg.h"
#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerApplyRun.h"
#include "tests/support/TestApplyFixture.h"
#include "tests/support/TestModalCloser.h"
#include "ui/ZelManagerApplyPanel.h"
#include "ui/ZelManagerGenerateGreenPackageDlg.h"
#include "ui/ZelManagerToolsPanel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

using Entry = TestApplyFixture::Entry;

namespace {

// The tools page with the apply page beside it, as the window holds them.
struct ToolsPage
{
    QWidget window;
    ZelManagerApplyPanel *applyPanel;
    ZelManagerToolsPanel *panel;

    ToolsPage()
    {
        auto *layout = new QVBoxLayout(&window);
        applyPanel = new ZelManagerApplyPanel(&window);
        panel = new ZelManagerToolsPanel(&window);
        panel->setApplyPanel(applyPanel);
        layout->addWidget(panel);
        layout->addWidget(applyPanel);
        window.resize(640, 600);
        window.show();
    }
    void click(const char *button)
    {
        QTest::mouseClick(panel->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
    }
};

// Answers file dialogs with a file name.
bool answerFileDialog(QWidget *modal, const QString &fileName)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    if (!dialog)
        return false;
    dialog->selectFile(fileName);
    static_cast<QDialog *>(dialog)->accept(); // as the dialog's own button does
    return true;
}

QStringList zipNames(const QString &fileName)
{
    QStringList names;
    struct archive *archive = archive_read_new();
    archive_read_support_format_zip(archive);
    if (archive_read_open_filename(archive, QFile::encodeName(fileName).constData(), 65536) == ARCHIVE_OK) {
        struct archive_entry *header = nullptr;
        while (archive_read_next_header(archive, &header) == ARCHIVE_OK)
            names.append(QString::fromUtf8(archive_entry_pathname_utf8(header)));
    }
    archive_read_free(archive);
    return names;
}

} // namespace

class TestToolsPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exportThenImportFindsNothingToDo();
    void malformedSelectionChangesNothing();
    void importMarksDifferencesAndApplies();
    void dialogChoosesPackagesAndFile();
    void generationInstallsLostDependencyFirst();
    void generationFailuresWriteNothing();

private:
    bool offer(const QString &name, const QStringList &dependencies, const QList<Entry> &files);
    // Imports fileName, answering the confirmation with Apply (keep: the
    // check box on); returns the confirmation's detail text.
    QString importAndApply(ToolsPage &page, const QString &fileName, bool keep);
    // Generates through the dialog with package checked into fileName.
    void generate(ToolsPage &page, const QString &package, const QString &fileName, TestModalCloser **closer);
    void loseLib();

    std::unique_ptr<TestApplyFixture> m_fixture;
    std::unique_ptr<QTemporaryDir> m_tools;
};

void TestToolsPanel::init()
{
    m_fixture.reset(new TestApplyFixture);
    QVERIFY(m_fixture->isValid());
    QVERIFY(offer(QStringLiteral("lib"), {}, { Entry(QStringLiteral("lib/lib.dll"), "lib") }));
    QVERIFY(offer(QStringLiteral("app"), { QStringLiteral("lib") }, { Entry(QStringLiteral("bin/app.exe"), "app") }));
    QVERIFY(offer(QStringLiteral("extra"), {}, { Entry(QStringLiteral("bin/extra.exe"), "extra") }));
    QVERIFY(offer(QStringLiteral("old"), {}, { Entry(QStringLiteral("bin/old.exe"), "old") }));
    QCOMPARE(m_fixture->request(QStringLiteral("app"), TestApplyFixture::Install), QString());
    QCOMPARE(m_fixture->request(QStringLiteral("old"), TestApplyFixture::Install), QString());
    ZelManagerApplyRun run;
    QVERIFY(run.exec());
    m_tools.reset(new QTemporaryDir);
    QVERIFY(TestSandbox::writeFile(m_tools->path() + QStringLiteral("/zelfix-32.exe"), "MZ fix-up tool"));
}

void TestToolsPanel::cleanup()
{
    m_fixture.reset();
    m_tools.reset();
}

bool TestToolsPanel::offer(const QString &name, const QStringList &dependencies, const QList<Entry> &files)
{
    return m_fixture->addPackage(TestApplyFixture::manifest(name, QStringLiteral("1.0"), dependencies), files)
        && m_fixture->updateIndex();
}

void TestToolsPanel::exportThenImportFindsNothingToDo()
{
    ToolsPage page;
    const QString fileName = m_fixture->sandbox().path() + QStringLiteral("/selection.xml");
    {
        TestModalCloser closer([&](QWidget *modal) { answerFileDialog(modal, fileName); });
        page.click("exportPackageListButton");
        QCOMPARE(closer.titles(), QStringList { "Save Package Selection" });
    }
    QCOMPARE(TestSandbox::readFile(fileName),
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<packages>\n  <package>app</package>\n"
                       "  <package>lib</package>\n  <package>old</package>\n</packages>\n"));

    QString message;
    TestModalCloser closer([&](QWidget *modal) {
        if (!answerFileDialog(modal, fileName))
            message = qobject_cast<ZelManagerMessageDlg *>(modal)->message();
    });
    page.click("importPackageListButton");
    QCOMPARE(closer.titles(), QStringList({ "Open Package Selection", "Restore Package Selection" }));
    QCOMPARE(message, QStringLiteral("All packages are installed properly!"));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("extra")).isRequested());
}

// Not XML, or cut short: a clear message, and no request is made.
void TestToolsPanel::malformedSelectionChangesNothing()
{
    ToolsPage page;
    QSignalSpy applyRequests(page.panel, &ZelManagerToolsPanel::showApplyRequest);
    const QString fileName = m_fixture->sandbox().path() + QStringLiteral("/broken.xml");
    for (const QByteArray &data : { QByteArray("just some text"), QByteArray("<packages><package>extra</package>") }) {
        QVERIFY(TestSandbox::writeFile(fileName, data));
        TestModalCloser closer([&](QWidget *modal) { answerFileDialog(modal, fileName); });
        page.click("importPackageListButton");
        QCOMPARE(closer.titles(), QStringList({ "Open Package Selection", "Open Package Selection Error" }));
        QVERIFY2(closer.texts().value(1).startsWith(QStringLiteral("The package selection is not valid")),
            qPrintable(closer.texts().value(1)));
    }
    QCOMPARE(applyRequests.count(), 0);
    for (const ZelManagerPackage &package : m_fixture->database()->packages())
        QVERIFY(!package.isRequested());
}

QString TestToolsPanel::importAndApply(ToolsPage &page, const QString &fileName, bool keep)
{
    QString detail;
    TestModalCloser closer([&](QWidget *modal) {
        if (answerFileDialog(modal, fileName))
            return;
        if (auto *dialog = qobject_cast<ZelManagerMessageDlg *>(modal)) {
            detail = dialog->detailText();
            dialog->findChild<QCheckBox *>()->setChecked(keep);
            dialog->findChild<QPushButton *>(QStringLiteral("applyButton"))->click();
        }
    });
    page.click("importPackageListButton");
    const bool ran = QTest::qWaitFor([&] { return !page.applyPanel->isRunning(); }, 120000);
    return ran ? detail : QStringLiteral("the run did not end");
}

// A listed package that is missing is installed; an installed one that is
// neither listed nor needed by a listed one is removed unless the check box
// keeps it; a name no repository offers is skipped.
void TestToolsPanel::importMarksDifferencesAndApplies()
{
    ToolsPage page;
    QSignalSpy applyRequests(page.panel, &ZelManagerToolsPanel::showApplyRequest);
    const QString fileName = m_fixture->sandbox().path() + QStringLiteral("/wanted.xml");
    QVERIFY(TestSandbox::writeFile(fileName,
        "<?xml version=\"1.0\"?>\n<list><package> app </package><group><package>extra</package></group>"
        "<package>ghost</package></list>\n"));
    ZelManagerDatabase *database = m_fixture->database();

    QCOMPARE(importAndApply(page, fileName, true),
        QStringLiteral("Packages to be installed:\n  extra\n\nPackages to be removed:\n  old"));
    QCOMPARE(applyRequests.count(), 1);
    QVERIFY(database->package(QStringLiteral("extra")).isInstalled());
    QVERIFY(database->package(QStringLiteral("old")).isInstalled());

    QCOMPARE(importAndApply(page, fileName, false),
        QStringLiteral("Packages to be installed:\n  \n\nPackages to be removed:\n  old"));
    QCOMPARE(applyRequests.count(), 2);
    QVERIFY(!database->package(QStringLiteral("old")).isInstalled());
    QVERIFY(database->package(QStringLiteral("lib")).isInstalled());
    QVERIFY(database->package(QStringLiteral("app")).isInstalled());
}

void TestToolsPanel::dialogChoosesPackagesAndFile()
{
    ZelManagerGenerateGreenPackageDlg dialog;
    dialog.show();
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("packageListWidget"));
    auto *fileEdit = dialog.findChild<QLineEdit *>(QStringLiteral("packageFileEdit"));
    auto *generate = dialog.findChild<QPushButton *>(QStringLiteral("generateButton"));
    QCOMPARE(list->count(), 3); // the installed ones
    QVERIFY(!generate->isEnabled());
    QTest::keyClicks(fileEdit, QStringLiteral(" out/green.zip "));
    QCOMPARE(dialog.packageFile(), QDir::currentPath() + QStringLiteral("/out/green.zip"));
    QVERIFY(!generate->isEnabled());
    list->item(0)->setCheckState(Qt::Checked);
    QVERIFY(generate->isEnabled());
    fileEdit->clear();
    QVERIFY(!generate->isEnabled());

    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("packageFilterEdit")), QStringLiteral("l"));
    QCOMPARE(list->item(0)->isHidden(), true); // app
    QCOMPARE(list->item(1)->isHidden(), false); // lib
    QCOMPARE(list->item(2)->isHidden(), false); // old
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("selectAllButton")), Qt::LeftButton);
    QCOMPARE(dialog.checkedPackages(), QStringList({ "app", "lib", "old" }));

    const QString fileName = m_fixture->sandbox().path() + QStringLiteral("/checked.xml");
    {
        TestModalCloser closer([&](QWidget *modal) { answerFileDialog(modal, fileName); });
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("unselectAllButton")), Qt::LeftButton);
        list->item(2)->setCheckState(Qt::Checked);
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("exportButton")), Qt::LeftButton);
        QCOMPARE(closer.titles(), QStringList { "Export Package List" });
    }
    QVERIFY(TestSandbox::readFile(fileName).contains(QStringLiteral("<packages>\n  <package>old</package>\n")));
    QVERIFY(TestSandbox::writeFile(fileName, "<packages><package>app</package><package>ghost</package></packages>"));
    TestModalCloser closer([&](QWidget *modal) { answerFileDialog(modal, fileName); });
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("importButton")), Qt::LeftButton);
    QCOMPARE(dialog.checkedPackages(), QStringList({ "app", "old" }));
}

void TestToolsPanel::generate(
    ToolsPage &page, const QString &package, const QString &fileName, TestModalCloser **closer)
{
    *closer = new TestModalCloser([=](QWidget *modal) {
        auto *dialog = qobject_cast<ZelManagerGenerateGreenPackageDlg *>(modal);
        if (!dialog)
            return;
        auto *list = dialog->findChild<QListWidget *>(QStringLiteral("packageListWidget"));
        for (QListWidgetItem *item : list->findItems(package, Qt::MatchExactly))
            item->setCheckState(Qt::Checked);
        dialog->findChild<QLineEdit *>(QStringLiteral("packageFileEdit"))->setText(fileName);
        dialog->findChild<QPushButton *>(QStringLiteral("generateButton"))->click();
    });
    page.panel->setFixupToolFolder(m_tools->path());
    page.click("generateGreenPackageButton");
}

// An installation whose "lib" was lost while "app", which needs it, stayed.
void TestToolsPanel::loseLib()
{
    ZelManagerDatabase *database = m_fixture->database();
    database->beginTransaction();
    database->recordRemoval(QStringLiteral("lib"), 0);
    database->endTransaction(true);
    QVERIFY(!database->package(QStringLiteral("lib")).isInstalled());
}

void TestToolsPanel::generationInstallsLostDependencyFirst()
{
    loseLib();
    ToolsPage page;
    QSignalSpy applyRequests(page.panel, &ZelManagerToolsPanel::showApplyRequest);
    QSignalSpy toolsRequests(page.panel, &ZelManagerToolsPanel::showToolsRequest);
    const QString fileName = m_fixture->sandbox().path() + QStringLiteral("/green.zip");
    TestModalCloser *closer = nullptr;
    generate(page, QStringLiteral("app"), fileName, &closer);
    std::unique_ptr<TestModalCloser> owner(closer);

    QCOMPARE(closer->titles(), QStringList { "Generate Green Package ..." });
    QCOMPARE(applyRequests.count(), 1);
    QCOMPARE(toolsRequests.count(), 1);
    QVERIFY(m_fixture->database()->package(QStringLiteral("lib")).isInstalled());
    QCOMPARE(zipNames(fileName),
        QStringList(
            { "bin/", "etc/", "lib/", "bin/app.exe", "bin/zelfix.exe", "etc/zelfixrc", "lib/lib.dll", "readme.txt" }));
    QVERIFY(page.panel->findChild<QWidget *>(QStringLiteral("operationFrame"))->isHidden());
}

void TestToolsPanel::generationFailuresWriteNothing()
{
    ToolsPage page;
    const QString fileName = m_fixture->sandbox().path() + QStringLiteral("/green.zip");
    TestModalCloser *closer = nullptr;
    QVERIFY(QFile::remove(m_tools->path() + QStringLiteral("/zelfix-32.exe")));
    generate(page, QStringLiteral("app"), fileName, &closer);
    QCOMPARE(closer->titles(), QStringList({ "Generate Green Package ...", "Generate Green Package Error" }));
    QVERIFY2(closer->texts().value(1).contains(QStringLiteral("zelfix-32.exe is missing")),
        qPrintable(closer->texts().value(1)));
    QVERIFY(!QFileInfo::exists(fileName));
    delete closer;

    QVERIFY(TestSandbox::writeFile(m_tools->path() + QStringLiteral("/zelfix-32.exe"), "MZ"));
    loseLib();
    // Gone from the cache and from the server: the installation fails.
    QVERIFY(QDir(m_fixture->cacheFolder()).removeRecursively());
    QVERIFY(m_fixture->server().setBehaviour(
        m_fixture->archiveUrlPath(QStringLiteral("lib"), QStringLiteral("1.0")), TestHttpServer::NotFound));
    generate(page, QStringLiteral("app"), fileName, &closer);
    QCOMPARE(closer->titles(),
        QStringList({ "Generate Green Package ...", "Apply Operations Error", "Generate Green Package Error" }));
    QCOMPARE(closer->texts().value(2),
        QStringLiteral("These packages could not be installed: lib\nNo green package was written."));
    QVERIFY(!QFileInfo::exists(fileName));
    QVERIFY(!m_fixture->database()->package(QStringLiteral("lib")).isRequested());
    delete closer;
}

QTEST_MAIN(TestToolsPanel)
#include "tst_toolspanel.moc"
