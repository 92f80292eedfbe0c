#include "ui/ZelManagerToolsPanel.h"

#include "app/ZelManagerMessageDlg.h"
#include "database/ZelManagerDatabase.h"
#include "settings/ZelManagerSettings.h"
#include "tools/ZelManagerGreenPackage.h"
#include "tools/ZelManagerGreenPackageWriter.h"
#include "tools/ZelManagerPackageList.h"
#include "ui/ZelManagerApplyPanel.h"
#include "ui/ZelManagerGenerateGreenPackageDlg.h"

#include "ui_ZelManagerToolsPanel.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QString indentedList(const QStringList &names)
{
    return names.join(QStringLiteral("\n  "));
}

} // namespace

ZelManagerToolsPanel::ZelManagerToolsPanel(QWidget *parent)
    : ZelManagerContentPanel(parent)
    , ui(new Ui::ZelManagerToolsPanel)
    , m_settings(ZelManagerSettings::instance())
    , m_database(ZelManagerDatabase::instance())
{
    ui->setupUi(this);
    ui->operationFrame->hide();
}

ZelManagerToolsPanel::~ZelManagerToolsPanel() = default;

void ZelManagerToolsPanel::showOperation(const QString &text, int percent)
{
    ui->operationLabel->setText(text);
    ui->operationProgressBar->setValue(percent);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// One tool at a time: the buttons wait while one runs.
void ZelManagerToolsPanel::setBusy(bool busy)
{
    m_busy = busy;
    ui->packageListGroupBox->setEnabled(!busy);
    ui->greenPackageGroupBox->setEnabled(!busy);
    ui->operationFrame->setVisible(busy);
}

void ZelManagerToolsPanel::on_exportPackageListButton_clicked()
{
    if (m_busy)
        return;
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save Package Selection"), QString(), tr("Package Selection File (*.xml)"));
    if (fileName.isEmpty())
        return;
    ZelManagerPackageList list;
    if (!list.exportTo(fileName, m_database))
        QMessageBox::critical(this, tr("Save Package Selection Error"), tr("Can not open file for writing!"));
}

void ZelManagerToolsPanel::on_importPackageListButton_clicked()
{
    if (m_busy)
        return;
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Open Package Selection"), QString(), tr("Package Selection File (*.xml)"));
    if (fileName.isEmpty())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::critical(this, tr("Open Package Selection Error"), tr("Can not open file for reading!"));
        return;
    }
    // A file that is not a whole document says so and changes nothing.
    ZelManagerPackageList list;
    if (!list.read(file.readAll())) {
        QMessageBox::critical(this, tr("Open Package Selection Error"), list.errorText());
        return;
    }
    list.compare(m_database);
    if (list.installList().isEmpty() && list.removeList().isEmpty()) {
        ZelManagerMessageDlg dialog(this);
        dialog.setWindowTitle(tr("Restore Package Selection"));
        dialog.setIcon(ZelManagerMessageDlg::Information);
        dialog.setMessage(tr("All packages are installed properly!"));
        dialog.setButtons(QMessageBox::Ok);
        dialog.exec();
        return;
    }
    bool keepInstalled = false;
    if (!confirmImport(list.installList(), list.removeList(), &keepInstalled))
        return;
    requestImport(list.installList(), keepInstalled ? QStringList() : list.removeList());
    emit showApplyRequest();
    if (m_applyPanel)
        m_applyPanel->applyOperations();
}

bool ZelManagerToolsPanel::confirmImport(
    const QStringList &installList, const QStringList &removeList, bool *keepInstalled)
{
    ZelManagerMessageDlg dialog(this);
    dialog.setButtons(QMessageBox::Apply | QMessageBox::Cancel);
    dialog.setIcon(ZelManagerMessageDlg::Question);
    dialog.setWindowTitle(tr("Restore package selection"));
    dialog.setMessage(tr("Some packages need to be installed or removed!"));
    dialog.setInformation(tr("Do you want to continue to apply?"));
    dialog.setDetailText(tr("Packages to be installed:") + QStringLiteral("\n  ") + indentedList(installList)
        + QStringLiteral("\n\n") + tr("Packages to be removed:") + QStringLiteral("\n  ") + indentedList(removeList));
    auto *keepBox = new QCheckBox(tr("Don't remove &any packages."), &dialog);
    keepBox->setObjectName(QStringLiteral("keepInstalledCheckBox"));
    dialog.addWidget(keepBox);
    if (dialog.exec() != QMessageBox::Apply)
        return false;
    *keepInstalled = keepBox->isChecked();
    return true;
}

void ZelManagerToolsPanel::requestImport(const QStringList &installList, const QStringList &removeList)
{
    setBusy(true);
    const int total = installList.size() + removeList.size();
    int done = 0;
    m_database->beginTransaction();
    for (const QString &name : removeList) {
        showOperation(tr("Requesting removing of package: %1 ...").arg(name), done++ * 100 / total);
        m_database->requestRemove(m_database->package(name));
    }
    for (const QString &name : installList) {
        showOperation(tr("Requesting installing of package: %1 ...").arg(name), done++ * 100 / total);
        m_database->requestInstall(m_database->package(name));
    }
    m_database->endTransaction(true);
    setBusy(false);
}

void ZelManagerToolsPanel::on_generateGreenPackageButton_clicked()
{
    if (m_busy)
        return;
    ZelManagerGenerateGreenPackageDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    setBusy(true);
    generateGreenPackage(dialog.checkedPackages(), dialog.packageFile());
    setBusy(false);
}

void ZelManagerToolsPanel::showGenerateError(const QString &text)
{
    QMessageBox::critical(this, tr("Generate Green Package Error"), text);
}

// Checks the packages, installs what the package set lacks, then writes the
// archive; any failure before the archive leaves no file behind and names
// the package that failed.
void ZelManagerToolsPanel::generateGreenPackage(const QStringList &checked, const QString &fileName)
{
    ZelManagerGreenPackage generator(m_database, m_settings);
    generator.setFixupToolFolder(m_toolFolder);
    const QString toolProblem = generator.fixupToolProblem();
    if (!toolProblem.isEmpty()) {
        showGenerateError(toolProblem);
        return;
    }
    const QString notWritten = tr("No green package was written.");
    QString failure;
    m_database->beginTransaction();
    for (int i = 0; i < checked.size() && failure.isEmpty(); ++i) {
        showOperation(tr("Checking package: %1 ...").arg(checked.at(i)), i * 100 / checked.size());
        failure = generator.check(checked.at(i));
    }
    if (!failure.isEmpty())
        generator.dropRequests();
    m_database->endTransaction(true);
    if (!failure.isEmpty()) {
        showGenerateError(failure + QLatin1Char('\n') + notWritten);
        return;
    }
    if (generator.hasRequests()) {
        applyAndWait();
        emit showToolsRequest(true);
        const QStringList missing = generator.notInstalled(generator.packageSet(checked));
        if (!missing.isEmpty()) {
            m_database->beginTransaction();
            generator.dropRequests();
            m_database->endTransaction(true);
            showGenerateError(tr("These packages could not be installed: %1").arg(missing.join(QStringLiteral(", ")))
                + QLatin1Char('\n') + notWritten);
            return;
        }
    }
    ZelManagerGreenPackageWriter writer;
    writer.setFileProgress([this](int index, int count, const QString &name) {
        showOperation(tr("Writing file: %1 ...").arg(name), index * 100 / qMax(1, count));
    });
    writer.setBlockDone([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    if (!writer.write(fileName, generator.entries(generator.packageSet(checked)))) {
        showGenerateError(writer.errorText());
        return;
    }
    if (!writer.skippedFiles().isEmpty()) {
        QMessageBox::warning(this, tr("Generate Green Package"),
            tr("These files could not be read and are not in the green package:") + QStringLiteral("\n")
                + writer.skippedFiles().join(QLatin1Char('\n')));
    }
}

void ZelManagerToolsPanel::applyAndWait()
{
    if (!m_applyPanel)
        return;
    emit showApplyRequest();
    QEventLoop loop;
    connect(m_applyPanel, &ZelManagerApplyPanel::stateChanged, &loop, [&loop](bool running) {
        if (!running)
            loop.quit();
    });
    m_applyPanel->applyOperations();
    if (m_applyPanel->isRunning())
        loop.exec();
}
