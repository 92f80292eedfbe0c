#include "ui/ZelManagerApplyPanel.h"

#include "engine/ZelManagerErrorSummary.h"

#include "engine/ZelManagerApplyRun.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerApplyDelegate.h"
#include "ui/ZelManagerApplyFilterModel.h"
#include "ui/ZelManagerOperationModel.h"

#include "ui_ZelManagerApplyPanel.h"

#include <QLocale>
#include <QMessageBox>
#include <QTimer>

ZelManagerApplyPanel::ZelManagerApplyPanel(QWidget *parent)
    : ZelManagerContentPanel(parent)
    , ui(new Ui::ZelManagerApplyPanel)
{
    ui->setupUi(this);
    m_settings = ZelManagerSettings::instance();
    m_database = ZelManagerDatabase::instance();
    m_delegate = new ZelManagerApplyDelegate(this);
    m_model = new ZelManagerOperationModel(this);
    m_filterModel = new ZelManagerApplyFilterModel(this);
    m_filterModel->setSourceModel(m_model);
    ui->applyListView->setItemDelegate(m_delegate);
    ui->applyListView->setModel(m_filterModel);
    connect(
        m_model, &ZelManagerOperationModel::packageCountChanged, this, &ZelManagerApplyPanel::onPackageCountChanged);
    m_filterModel->sort(0, Qt::AscendingOrder);
    ui->progressLabel->hide();

    // The totals follow the workers at the pace of the model's own repaints.
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &ZelManagerApplyPanel::updateProgressLine);
}

// A run still going on is stopped and waited for by its destructor.
ZelManagerApplyPanel::~ZelManagerApplyPanel()
{
    delete m_run;
}

QList<QAction *> ZelManagerApplyPanel::panelActions() const
{
    return { ui->workAction };
}

void ZelManagerApplyPanel::applyOperations()
{
    if (m_run)
        return;
    if (m_database->isInTransaction()) {
        // A repository update holds the batch and is replacing the files the
        // run would read.
        QMessageBox::warning(
            this, tr("Apply Operations"), tr("Operations cannot be applied while repositories are being updated."));
        return;
    }
    updateActionState(true);
    m_run = new ZelManagerApplyRun(m_model, this);
    connect(m_run, &ZelManagerApplyRun::finished, this, &ZelManagerApplyPanel::onRunFinished);
    connect(m_run, &ZelManagerApplyRun::downloadProgress, this, &ZelManagerApplyPanel::onDownloadProgress);
    m_model->refresh();
    m_operationCount = m_model->rowCount();
    m_transfers.clear();
    ui->progressLabel->show();
    updateProgressLine();
    m_progressTimer->start();
    m_run->start();
}

void ZelManagerApplyPanel::onRunFinished()
{
    ZelManagerApplyRun *run = m_run;
    const QList<ZelManagerDatabase::ErrorRecord> errors = run->errors();
    // Called from the run's own signal: it goes once that has returned.
    run->deleteLater();
    m_run = nullptr;
    m_progressTimer->stop();
    updateProgressLine();
    showErrors(errors);
    updateActionState(false);
}

void ZelManagerApplyPanel::showErrors(const QList<ZelManagerDatabase::ErrorRecord> &errors)
{
    const QString text = ZelManagerErrorSummary::text(errors);
    if (text.isEmpty())
        return;
    QMessageBox box(QMessageBox::Critical, tr("Apply Operations Error"), text, QMessageBox::Ok, this);
    box.exec();
}

void ZelManagerApplyPanel::updatePanelStates()
{
    if (!m_run)
        m_model->refresh();
}

void ZelManagerApplyPanel::updateActionState(bool running)
{
    if (running) {
        ui->workAction->setText(tr("&Stop"));
        ui->workAction->setToolTip(tr("Stop the execution of requested operations"));
        ui->workAction->setIcon(QIcon(QStringLiteral(":/images/process-stop.svg")));
    } else {
        ui->workAction->setText(tr("&Apply"));
        ui->workAction->setToolTip(tr("Apply requested operations"));
        ui->workAction->setIcon(QIcon(QStringLiteral(":/images/debug-run.svg")));
    }
    emit stateChanged(running);
}

void ZelManagerApplyPanel::on_workAction_triggered()
{
    if (m_run)
        m_run->stop();
    else
        QTimer::singleShot(0, this, &ZelManagerApplyPanel::applyOperations);
}

void ZelManagerApplyPanel::onPackageCountChanged(int count)
{
    if (count <= 0)
        emit finished();
}

void ZelManagerApplyPanel::on_applyListView_activated(const QModelIndex &) { }

void ZelManagerApplyPanel::onDownloadProgress(const QString &name, qint64 received, qint64 total)
{
    m_transfers.insert(name, qMakePair(received, total));
}

void ZelManagerApplyPanel::updateProgressLine()
{
    ui->progressLabel->setText(progressText());
}

// Packages leave the list when their work is done; those still listed count
// as done once finished or removed, as failed on an error.
QString ZelManagerApplyPanel::progressText() const
{
    int done = m_operationCount - m_model->rowCount();
    int failed = 0;
    for (const QString &name : m_model->rows()) {
        const ZelManagerPackage package = m_database->package(name);
        const int status = package.status();
        if (status == ZelManagerPackage::Finished || status == ZelManagerPackage::Removed)
            ++done;
        else if (status == ZelManagerPackage::Error)
            ++failed;
    }
    qint64 received = 0;
    qint64 size = 0;
    bool sizeKnown = true;
    for (const QPair<qint64, qint64> &transfer : m_transfers) {
        received += transfer.first;
        if (transfer.second >= 0)
            size += transfer.second;
        else
            sizeKnown = false;
    }
    const QLocale locale;
    QString text = tr("%1 of %2 packages done").arg(done).arg(m_operationCount);
    if (failed > 0)
        text += tr(", %1 failed").arg(failed);
    if (!m_transfers.isEmpty()) {
        text += tr(", %1 of %2 downloaded")
                    .arg(locale.formattedDataSize(received),
                        sizeKnown ? locale.formattedDataSize(size) : tr("%1+").arg(locale.formattedDataSize(size)));
    }
    return text;
}
