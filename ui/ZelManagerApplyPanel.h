#ifndef ZELMANAGERAPPLYPANEL_H
#define ZELMANAGERAPPLYPANEL_H

#include "database/ZelManagerDatabase.h"
#include "ui/ZelManagerContentPanel.h"

#include <QHash>
#include <QList>
#include <QPair>

#include <memory>

class QTimer;
class ZelManagerApplyDelegate;
class ZelManagerApplyFilterModel;
class ZelManagerApplyRun;
class ZelManagerOperationModel;
class ZelManagerSettings;

namespace Ui {
class ZelManagerApplyPanel;
}

// The page that lists the marked operations and applies them. A run goes
// through ZelManagerApplyRun (one database batch, the triggers, both
// managers); the page only shows it: each package's status and progress,
// a line with the run's totals, and at the end a box with the errors grouped
// by package.
class ZelManagerApplyPanel : public ZelManagerContentPanel
{
    Q_OBJECT

public:
    explicit ZelManagerApplyPanel(QWidget *parent = nullptr);
    ~ZelManagerApplyPanel() override;

    QList<QAction *> panelActions() const override;

    ZelManagerOperationModel *operationModel() const { return m_model; }
    bool isRunning() const { return m_run; }
    // The line above the list: packages done of all, bytes downloaded.
    QString progressText() const;

signals:
    void finished();
    void stateChanged(bool running);

public slots:
    void applyOperations();
    void updatePanelStates();
    void updateActionState(bool running);
    void on_workAction_triggered();
    void onPackageCountChanged(int count);
    void on_applyListView_activated(const QModelIndex &index);

private slots:
    void onRunFinished();
    void onDownloadProgress(const QString &name, qint64 received, qint64 total);
    void updateProgressLine();

private:
    void showErrors(const QList<ZelManagerDatabase::ErrorRecord> &errors);

    std::unique_ptr<Ui::ZelManagerApplyPanel> ui;
    ZelManagerSettings *m_settings;
    ZelManagerDatabase *m_database;
    ZelManagerApplyDelegate *m_delegate;
    ZelManagerOperationModel *m_model;
    ZelManagerApplyFilterModel *m_filterModel;
    ZelManagerApplyRun *m_run = nullptr;
    QTimer *m_progressTimer;
    // Totals of the current (or last) run.
    int m_operationCount = 0;
    QHash<QString, QPair<qint64, qint64>> m_transfers; // name -> (received, size)
};

#endif // ZELMANAGERAPPLYPANEL_H
