#ifndef ZELMANAGERUPDATEPANEL_H
#define ZELMANAGERUPDATEPANEL_H

#include "ui/ZelManagerContentPanel.h"

#include <QList>
#include <QPair>
#include <QUrl>

#include <memory>

class ZelManagerDatabase;
class ZelManagerPackageModel;
class ZelManagerUpdateDelegate;
class ZelManagerUpdateFilterModel;
class ZelManagerUpdateModel;

namespace Ui {
class ZelManagerUpdatePanel;
}

// The page that refreshes every enabled repository's index (one database
// batch for the whole check) and then lists the packages that can be
// upgraded. A repository whose update fails keeps its previous packages; the
// page names it with the updater's reason. In the automatic mode (the
// window's first start) the end of the check is announced by
// checkingFinished(), also when there was nothing to update.
class ZelManagerUpdatePanel : public ZelManagerContentPanel
{
    Q_OBJECT

public:
    explicit ZelManagerUpdatePanel(ZelManagerPackageModel *packageModel, QWidget *parent = nullptr);
    ~ZelManagerUpdatePanel() override;

    QList<QAction *> panelActions() const override;

    // Checks, and announces the end with checkingFinished().
    void checkAndApply();
    bool isChecking() const { return m_checking; }
    // Repositories whose last update failed, with the reason.
    QList<QPair<QUrl, QString>> failures() const { return m_failures; }
    ZelManagerUpdateModel *updateModel() const { return m_updateModel; }
    ZelManagerUpdateFilterModel *filterModel() const { return m_filterModel; }

signals:
    void stateChanged(bool running);
    void checkingFinished();
    void showApplyRequest();
    void upgradeRequest(const QString &name);

public slots:
    void onUpdateModelFinished();
    void on_upgradeAllAction_triggered();
    void on_checkUpdatesAction_triggered();

private:
    void finishCheck(const QString &statusText, bool endBatch);
    void showFailures();

    std::unique_ptr<Ui::ZelManagerUpdatePanel> ui;
    ZelManagerDatabase *m_database;
    ZelManagerPackageModel *m_packageModel;
    ZelManagerUpdateModel *m_updateModel;
    ZelManagerUpdateFilterModel *m_filterModel;
    ZelManagerUpdateDelegate *m_updateDelegate;
    ZelManagerUpdateDelegate *m_packageDelegate;
    QList<QPair<QUrl, QString>> m_failures;
    bool m_applyAfterChecking = false;
    bool m_checking = false;
};

#endif // ZELMANAGERUPDATEPANEL_H
