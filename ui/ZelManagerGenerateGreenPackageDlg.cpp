#include "ui/ZelManagerGenerateGreenPackageDlg.h"

#include "database/ZelManagerDatabase.h"
#include "tools/ZelManagerPackageList.h"

#include "ui_ZelManagerGenerateGreenPackageDlg.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>

#include <algorithm>

ZelManagerGenerateGreenPackageDlg::ZelManagerGenerateGreenPackageDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ZelManagerGenerateGreenPackageDlg)
    , m_database(ZelManagerDatabase::instance())
{
    ui->setupUi(this);
    const QSignalBlocker blocker(ui->packageListWidget);
    for (const QString &name : ZelManagerPackageList::installedNames(m_database)) {
        auto *item = new QListWidgetItem(name, ui->packageListWidget);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    updateGenerateButton();
}

ZelManagerGenerateGreenPackageDlg::~ZelManagerGenerateGreenPackageDlg() = default;

QStringList ZelManagerGenerateGreenPackageDlg::checkedPackages() const
{
    QStringList names = m_checked;
    std::sort(names.begin(), names.end());
    return names;
}

void ZelManagerGenerateGreenPackageDlg::on_importButton_clicked()
{
    const QString fileName
        = QFileDialog::getOpenFileName(this, tr("Import Package List"), QString(), tr("Package List File (*.xml)"));
    if (fileName.isEmpty())
        return;
    ZelManagerPackageList list;
    if (!list.read(fileName)) {
        QMessageBox::critical(this, tr("Import Package List Error"), list.errorText());
        return;
    }
    const QStringList names = list.names();
    for (int row = 0; row < ui->packageListWidget->count(); ++row) {
        QListWidgetItem *item = ui->packageListWidget->item(row);
        if (names.contains(item->text()))
            item->setCheckState(Qt::Checked);
    }
}

void ZelManagerGenerateGreenPackageDlg::on_exportButton_clicked()
{
    const QString fileName
        = QFileDialog::getSaveFileName(this, tr("Export Package List"), QString(), tr("Package List File (*.xml)"));
    if (fileName.isEmpty())
        return;
    const QByteArray data = ZelManagerPackageList::document(m_checked);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        QMessageBox::critical(this, tr("Export Package List Error"), tr("Can not open file for writing!"));
}

void ZelManagerGenerateGreenPackageDlg::on_browseButton_clicked()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Select Green Package Path"), m_packageFile, tr("Green Package File (*.zip)"));
    if (!fileName.isEmpty())
        ui->packageFileEdit->setText(QDir::toNativeSeparators(fileName));
}

void ZelManagerGenerateGreenPackageDlg::on_generateButton_clicked()
{
    accept();
}

void ZelManagerGenerateGreenPackageDlg::on_selectAllButton_clicked()
{
    setAllChecked(true);
}

void ZelManagerGenerateGreenPackageDlg::on_unselectAllButton_clicked()
{
    setAllChecked(false);
}

void ZelManagerGenerateGreenPackageDlg::setAllChecked(bool checked)
{
    for (int row = 0; row < ui->packageListWidget->count(); ++row)
        ui->packageListWidget->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void ZelManagerGenerateGreenPackageDlg::on_packageFileEdit_textChanged(const QString &text)
{
    const QString path = text.trimmed();
    m_packageFile = path.isEmpty() ? QString() : QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath();
    updateGenerateButton();
}

void ZelManagerGenerateGreenPackageDlg::on_packageFilterEdit_textChanged(const QString &text)
{
    const QString filter = text.trimmed();
    for (int row = 0; row < ui->packageListWidget->count(); ++row) {
        QListWidgetItem *item = ui->packageListWidget->item(row);
        item->setHidden(!item->text().contains(filter, Qt::CaseSensitive));
    }
}

void ZelManagerGenerateGreenPackageDlg::on_packageListWidget_itemChanged(QListWidgetItem *item)
{
    const QString name = item->text();
    if (item->checkState() == Qt::Checked) {
        if (!m_checked.contains(name))
            m_checked.append(name);
    } else {
        m_checked.removeAll(name);
    }
    updateGenerateButton();
}

void ZelManagerGenerateGreenPackageDlg::updateGenerateButton()
{
    ui->generateButton->setEnabled(!m_packageFile.isEmpty() && !m_checked.isEmpty());
}
