#include "ui/ZelManagerUpdatePanel.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerPackageModel.h"
#include "ui/ZelManagerUpdateDelegate.h"
#include "ui/ZelManagerUpdateFilterModel.h"
#include "ui/ZelManagerUpdateModel.h"

#include "ui_ZelManagerUpdatePanel.h"

#include <algorithm>

ZelManagerUpdatePanel::ZelManagerUpdatePanel(ZelManagerPackageModel *packageModel, QWidget *parent)
    : ZelManagerContentPanel(parent)
    , ui(new Ui::ZelManagerUpdatePanel)
    , m_packageModel(packageModel)
{
    ui->setupUi(this);
    m_database = ZelManagerDatabase::instance();
    m_updateModel = new ZelManagerUpdateModel(this);
    m_filterModel = new ZelManagerUpdateFilterModel(this);
    m_filterModel->setSourceModel(m_packageModel);
    m_filterModel->sort(0, Qt::AscendingOrder);
    m_updateDelegate = new ZelManagerUpdateDelegate(this);
    m_packageDelegate = new ZelManagerUpdateDelegate(this);
    ui->updateListView->setItemDelegate(m_updateDelegate);
    ui->packageListView->setItemDelegate(m_packageDelegate);
    ui->updateListView->setModel(m_updateModel);
    ui->packageListView->setModel(m_filterModel);
    ui->failureLabel->hide();
    ui->stackedWidget->setCurrentWidget(ui->statusPage);
    connect(m_updateModel, &ZelManagerUpdateModel::finished, this, &ZelManagerUpdatePanel::onUpdateModelFinished);
}

ZelManagerUpdatePanel::~ZelManagerUpdatePanel() = default;

QList<QAction *> ZelManagerUpdatePanel::panelActions() const
{
    return { ui->upgradeAllAction, ui->checkUpdatesAction };
}

void ZelManagerUpdatePanel::checkAndApply()
{
    m_applyAfterChecking = true;
    on_checkUpdatesAction_triggered();
}

void ZelManagerUpdatePanel::on_checkUpdatesAction_triggered()
{
    emit stateChanged(true);
    ui->stackedWidget->setCurrentWidget(ui->updatePage);
    QList<QUrl> urls = ZelManagerSettings::instance()->repositories();
    std::sort(urls.begin(), urls.end());
    // A second request while checking adds what is not being updated yet to
    // the batch that is open.
    if (!m_checking && m_database->isInTransaction()) {
        // An apply run holds the batch: replacing repository files under it,
        // or ending its batch, would break the run.
        finishCheck(tr("Repositories cannot be updated while operations are being applied."), false);
        return;
    }
    if (!m_checking) {
        m_database->beginTransaction();
        m_failures.clear();
        ui->failureLabel->hide();
        m_checking = true;
    }
    for (const QUrl &url : urls) {
        ZelManagerRepositoryUpdater *updater = m_database->createUpdater(url);
        if (!updater)
            continue;
        // Connected before the model's own handler, which schedules the
        // updater's deletion and may end the check.
        connect(updater, &ZelManagerRepositoryUpdater::finished, this, [this, updater, url]() {
            if (!updater->errorText().isEmpty())
                m_failures.append(qMakePair(url, updater->errorText()));
        });
        m_updateModel->addUpdater(url, updater);
    }
    if (m_updateModel->count() < 1)
        finishCheck(tr("No repository was updated: there is no enabled repository. "
                       "Add or enable one in the Preferences."),
            true);
}

void ZelManagerUpdatePanel::onUpdateModelFinished()
{
    if (!m_checking)
        return;
    QString status = tr("All repositories are updated.");
    if (!m_failures.isEmpty())
        status = tr("The repositories that answered are updated.");
    finishCheck(status, true);
}

// Ends the batch, shows the upgradable packages (or the status text) and
// announces the end of the check.
void ZelManagerUpdatePanel::finishCheck(const QString &statusText, bool endBatch)
{
    m_checking = false;
    if (endBatch)
        m_database->endTransaction(true);
    m_filterModel->invalidate();
    const int count = m_filterModel->rowCount();
    ui->upgradeAllAction->setEnabled(count > 0);
    ui->statusLabel->setText(statusText);
    ui->stackedWidget->setCurrentWidget(count > 0 ? ui->packagePage : ui->statusPage);
    showFailures();
    if (m_applyAfterChecking) {
        m_applyAfterChecking = false;
        emit checkingFinished();
    }
    emit stateChanged(false);
}

void ZelManagerUpdatePanel::showFailures()
{
    if (m_failures.isEmpty()) {
        ui->failureLabel->hide();
        return;
    }
    const ZelManagerSettings *settings = ZelManagerSettings::instance();
    QStringList lines { tr("These repositories could not be updated; their previous packages stay in use:") };
    for (const QPair<QUrl, QString> &failure : qAsConst(m_failures)) {
        lines.append(
            tr("%1 (%2): %3").arg(settings->repositoryLabel(failure.first), failure.first.toString(), failure.second));
    }
    ui->failureLabel->setText(lines.join(QLatin1Char('\n')));
    ui->failureLabel->show();
}

void ZelManagerUpdatePanel::on_upgradeAllAction_triggered()
{
    // Names first: the requests change the list being walked.
    QStringList names;
    for (int row = 0; row < m_filterModel->rowCount(); ++row) {
        const QModelIndex source = m_filterModel->mapToSource(m_filterModel->index(row, 0));
        names.append(m_packageModel->data(source, Qt::EditRole).toString());
    }
    for (const QString &name : qAsConst(names))
        emit upgradeRequest(name);
    emit showApplyRequest();
}
