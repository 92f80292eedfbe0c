#ifndef ZELMANAGER_H
#define ZELMANAGER_H

#include "ui_ZelManager.h"

#include <QFrame>
#include <QStringList>

class QScrollArea;
class ZelManagerAboutPanel;
class ZelManagerApplyPanel;
class ZelManagerCategoryModel;
class ZelManagerCategoryPanel;
class ZelManagerDatabase;
class ZelManagerErrorPanel;
class ZelManagerPackageInfoPanel;
class ZelManagerPackageModel;
class ZelManagerPackagesPanel;
class ZelManagerPreferencePanel;
class ZelManagerToolsPanel;
class ZelManagerUpdatePanel;

// The program's only top-level window: the category column, the content
// column with its title row above the stack of pages, and the package
// information column. It owns the process-wide objects (settings store,
// database with its network access manager, triggers, script engine) from
// its construction to its destruction.
//
// Below the width that the category and content columns want, the category
// column leaves the layout and floats over the content on request (menu
// button); the information column then stands in for the content column
// (return mode).
class ZelManager : public QFrame, private Ui::ZelManager
{
    Q_OBJECT

public:
    explicit ZelManager(QWidget *parent = nullptr);
    ~ZelManager() override;

    QSize minimumSizeHint() const override;

public slots:
    void onApplyPanelFinished();
    void onToolsApplyPanelRequest();
    void onUpdateApplyPanelRequest();
    void onPackageInfoReturnRequest();
    void onShowAboutPanelRequest(bool on);
    void onShowApplyPanelRequest(bool on);
    void onShowErrorPanelRequest(bool on);
    void onShowToolsPanelRequest(bool on);
    void onShowUpdatePanelRequest(bool on);
    void onShowPackageInfoPanelRequest();
    void onShowPreferencePanelRequest(bool on);
    void onShowPackagesPanelRequest(const QString &name, const QStringList &path);
    void on_homeButton_clicked();
    void on_menuButton_clicked();
    void on_filterEdit_returnPressed();
    void on_contentStackedWidget_currentChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void createSingletons();
    void createPages();
    void addPagesToStack();
    void connectPages();
    void showFirstPage();
    // What every page request does first: leave the information column and
    // the floating category column; then, when on, make page current.
    void openPage(QWidget *page, bool on);
    void hideFloatingCategory();
    void rebuildTitleRow(QWidget *page);
    void applyLayout(int width);
    void setInformationColumn(bool returnMode, bool informationVisible);
    // Refreshes the operation list from the marks and shows the apply page.
    void openApplyPanel();

    // Which page the apply page returns to when it finishes: 0 none (go
    // home), 1 tools, 2 update.
    int applyReturnTarget = 0;
    bool categoryFloating = false;
    ZelManagerDatabase *database = nullptr;
    QScrollArea *preferenceScrollArea = nullptr;
    ZelManagerErrorPanel *errorPanel = nullptr;
    ZelManagerAboutPanel *aboutPanel = nullptr;
    ZelManagerApplyPanel *applyPanel = nullptr;
    ZelManagerToolsPanel *toolsPanel = nullptr;
    ZelManagerUpdatePanel *updatePanel = nullptr;
    ZelManagerCategoryPanel *categoryPanel = nullptr;
    ZelManagerPackagesPanel *packagesPanel = nullptr;
    ZelManagerPackageInfoPanel *packageInfoPanel = nullptr;
    ZelManagerPackageModel *packageModel = nullptr;
    ZelManagerCategoryModel *categoryModel = nullptr;
};

#endif // ZELMANAGER_H
