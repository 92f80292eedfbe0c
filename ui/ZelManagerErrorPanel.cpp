#include "ui/ZelManagerErrorPanel.h"

#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerErrorSummary.h"

#include "ui_ZelManagerErrorPanel.h"

#include <QDateTime>
#include <QHeaderView>
#include <QStandardItemModel>

ZelManagerErrorPanel::ZelManagerErrorPanel(QWidget *parent)
    : ZelManagerContentPanel(parent)
    , ui(new Ui::ZelManagerErrorPanel)
{
    ui->setupUi(this);
    m_database = ZelManagerDatabase::instance();
    m_errorModel = new QStandardItemModel(0, ColumnCount, this);
    m_errorModel->setHorizontalHeaderLabels({ tr("Time"), tr("Package"), tr("Kind"), tr("Description") });
    ui->errorTableView->setModel(m_errorModel);
    ui->errorTableView->verticalHeader()->hide();
    ui->errorTableView->horizontalHeader()->setStretchLastSection(true);
    ui->errorTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->errorTableView->horizontalHeader()->setSectionResizeMode(DescriptionColumn, QHeaderView::Stretch);
    // The database's order (oldest first) until the user sorts otherwise.
    ui->errorTableView->horizontalHeader()->setSortIndicator(TimeColumn, Qt::AscendingOrder);
    connect(m_database, &ZelManagerDatabase::errorsChanged, this, &ZelManagerErrorPanel::onErrorCountChanged);
    reload();
}

ZelManagerErrorPanel::~ZelManagerErrorPanel() = default;

void ZelManagerErrorPanel::updatePanelStates()
{
    reload();
}

void ZelManagerErrorPanel::updateActionState(bool) { }

void ZelManagerErrorPanel::onErrorCountChanged(int)
{
    reload();
}

// The view keeps the column and order the user sorted by.
void ZelManagerErrorPanel::reload()
{
    m_errorModel->removeRows(0, m_errorModel->rowCount());
    const QList<qint64> ids = m_database->errorIds();
    for (const qint64 id : ids) {
        const ZelManagerDatabase::ErrorRecord error = m_database->error(id);
        QString kind = ZelManagerErrorSummary::kindName(error.kind);
        if (kind.isEmpty())
            kind = tr("Other (%1)").arg(error.kind);
        // ISO text sorts in time order.
        const QString time = QDateTime::fromMSecsSinceEpoch(error.time).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QList<QStandardItem *> row { new QStandardItem(time), new QStandardItem(error.package), new QStandardItem(kind),
            new QStandardItem(error.description.simplified()) };
        row.at(DescriptionColumn)->setToolTip(error.description);
        m_errorModel->appendRow(row);
    }
    const QHeaderView *header = ui->errorTableView->horizontalHeader();
    if (header->sortIndicatorSection() >= 0 && header->sortIndicatorSection() < ColumnCount)
        m_errorModel->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
}
