#ifndef ZELMANAGERPACKAGESPANEL_H
#define ZELMANAGERPACKAGESPANEL_H

#include "ui/ZelManagerContentPanel.h"
#include "ui_ZelManagerPackagesPanel.h"

#include <QModelIndex>
#include <QStringList>

class QActionGroup;
class QMenu;
class QToolButton;
class ZelManagerDatabase;
class ZelManagerPackage;
class ZelManagerPackageDelegate;
class ZelManagerPackageFilterModel;
class ZelManagerPackageInfoPanel;
class ZelManagerPackageModel;

// The main page: the filtered, sorted list of all packages, in which the
// user marks packages for installation, upgrade, removal or reinstallation,
// cancels marks and sets bookmarks.
class ZelManagerPackagesPanel : public ZelManagerContentPanel, private Ui::ZelManagerPackagesPanel
{
    Q_OBJECT

public:
    // The request kinds of the marking actions, also carried by the
    // information panel's action requests.
    enum RequestKind {
        CancelRequest = 1,
        RemoveRequest = 2,
        InstallRequest = 3,
        UpgradeRequest = 4,
        ReinstallRequest = 5,
    };

    explicit ZelManagerPackagesPanel(ZelManagerPackageModel *model, QWidget *parent = nullptr);

    QWidget *watchedWidget() const override;
    QList<QAbstractButton *> overlayButtons() const override;
    QList<QAction *> panelActions() const override;

    void setInformationPanel(ZelManagerPackageInfoPanel *panel);
    void setSearchText(const QString &text);
    void setCategories(const QStringList &levels, const QString &name);
    void selectFirst();

    // The message of the failure dialog of a kind for count refusals; empty
    // for an unknown kind.
    static QString failureMessage(int kind, int count);
    static QString failureTitle(int kind);

signals:
    void showInfoPanelRequest();

public slots:
    void onOperatorButtonClicked();
    void onBookmarkButtonClicked();
    void onPackageSelectionChanged();
    void onOperationMenuAboutToShow();
    void onPackagesRequestsChanged(int count);
    void onUpgradeRequest(const QString &name);
    void onInfoActionRequest(int kind, const QString &name);

private slots:
    void on_showAllAction_toggled(bool checked);
    void on_sortByNameAction_toggled(bool checked);
    void on_sortByDateAction_toggled(bool checked);
    void on_sortByStatusAction_toggled(bool checked);
    void on_showRequestedAction_toggled(bool checked);
    void on_showInstalledAction_toggled(bool checked);
    void on_showAvailableAction_toggled(bool checked);
    void on_showUpgradableAction_toggled(bool checked);
    void on_showBookmarkedAction_toggled(bool checked);
    void on_showRemoveRequestedAction_toggled(bool checked);
    void on_showUpgradeRequestedAction_toggled(bool checked);
    void on_showInstallRequestedAction_toggled(bool checked);
    void on_showReinstallRequestedAction_toggled(bool checked);
    void on_cancelPackageAction_triggered();
    void on_removePackageAction_triggered();
    void on_installPackageAction_triggered();
    void on_upgradePackageAction_triggered();
    void on_bookmarkPackageAction_triggered();
    void on_reinstallPackageAction_triggered();
    void on_cancelAllPackagesAction_triggered();
    void on_packageListView_clicked(const QModelIndex &index);
    void on_packageListView_activated(const QModelIndex &index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createMenus();
    void createOverlayButtons();
    void setShowFilter(bool checked, int filter);
    void setSortMode(bool checked, int mode);
    void updateSortMenuTitle();
    void armButtons(const QPoint &position);
    // Runs the request of kind for each selected package it applies to, in
    // one database transaction, and shows the refusals.
    void markSelected(int kind);
    bool appliesTo(int kind, const ZelManagerPackage &package) const;
    QString request(int kind, const ZelManagerPackage &package);
    void showFailureDialog(int kind, const QStringList &texts);
    QStringList selectedNames() const;
    ZelManagerPackage packageAt(const QModelIndex &index) const;
    void clickArmedButton(const QModelIndex &index);
    // The row a button's click was meant for, taken once.
    QModelIndex clickedItem(QToolButton *button) const;

    ZelManagerDatabase *m_database;
    ZelManagerPackageInfoPanel *m_infoPanel = nullptr;
    QMenu *m_showMenu;
    QMenu *m_sortMenu;
    QMenu *m_operationMenu;
    QActionGroup *m_sortGroup;
    QActionGroup *m_showGroup;
    QToolButton *m_operationButton;
    QToolButton *m_bookmarkButton;
    bool m_operationButtonArmed = false;
    bool m_bookmarkButtonArmed = false;
    ZelManagerPackageFilterModel *m_filter;
    ZelManagerPackageDelegate *m_delegate;
};

#endif // ZELMANAGERPACKAGESPANEL_H
