#include "app/ZelManager.h"

#include "database/ZelManagerCategory.h"
#include "database/ZelManagerDatabase.h"
#include "engine/ZelManagerScriptEngine.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "ui/ZelManagerAboutPanel.h"
#include "ui/ZelManagerApplyPanel.h"
#include "ui/ZelManagerCategoryModel.h"
#include "ui/ZelManagerCategoryPanel.h"
#include "ui/ZelManagerContentPanel.h"
#include "ui/ZelManagerErrorPanel.h"
#include "ui/ZelManagerOperationModel.h"
#include "ui/ZelManagerPackageInfoPanel.h"
#include "ui/ZelManagerPackageModel.h"
#include "ui/ZelManagerPackagesPanel.h"
#include "ui/ZelManagerPreferencePanel.h"
#include "ui/ZelManagerToolsPanel.h"
#include "ui/ZelManagerUpdatePanel.h"

#include <QAction>
#include <QMenu>
#include <QScrollArea>
#include <QToolButton>

namespace {

const int InformationColumn = 3;

} // namespace

ZelManager::ZelManager(QWidget *parent)
    : QFrame(parent)
{
    setupUi(this);
    createSingletons();
    packageModel = new ZelManagerPackageModel(this);
    categoryModel = new ZelManagerCategoryModel(this);
    createPages();
    mainLayout->insertWidget(InformationColumn, packageInfoPanel);
    mainLayout->setStretch(0, 0);
    mainLayout->setStretch(1, 0);
    mainLayout->setStretch(2, 1);
    mainLayout->setStretch(InformationColumn, 0);
    addPagesToStack();
    panelIconLabel->setFixedHeight(menuButton->sizeHint().height());
    // The columns decide themselves what to show below the width they want
    // (resizeEvent); the window only keeps room for the content column.
    mainLayout->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(minimumSizeHint());
    vline3->hide();
    menuButton->hide();
    connectPages();

    const QByteArray geometry = ZelManagerSettings::instance()->windowGeometry();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        resize(1000, 640);
    showFirstPage();
}

// The window owns these for the whole run; each is created only if a
// caller (a test, a tool) has not done so already.
void ZelManager::createSingletons()
{
    ZelManagerSettings::instance();
    ZelManagerDatabase::networkAccessManager();
    database = ZelManagerDatabase::instance();
    createTriggers();
    ZelManagerScriptEngine::instance();
}

// Every page of the content stack and the two side columns.
void ZelManager::createPages()
{
    categoryPanel = new ZelManagerCategoryPanel(categoryModel, categoryScrollArea);
    categoryScrollArea->setWidget(categoryPanel);
    updatePanel = new ZelManagerUpdatePanel(packageModel, contentStackedWidget);
    packagesPanel = new ZelManagerPackagesPanel(packageModel, contentStackedWidget);
    aboutPanel = new ZelManagerAboutPanel(contentStackedWidget);
    applyPanel = new ZelManagerApplyPanel(contentStackedWidget);
    errorPanel = new ZelManagerErrorPanel(contentStackedWidget);
    toolsPanel = new ZelManagerToolsPanel(contentStackedWidget);
    preferenceScrollArea = new QScrollArea(contentStackedWidget);
    preferenceScrollArea->setWidgetResizable(true);
    preferenceScrollArea->setWidget(new ZelManagerPreferencePanel(preferenceScrollArea));
    packageInfoPanel = new ZelManagerPackageInfoPanel(this);
    toolsPanel->setApplyPanel(applyPanel);
    packagesPanel->setInformationPanel(packageInfoPanel);
}

// Stack order: about, apply, tools, error, update, packages, preferences.
void ZelManager::addPagesToStack()
{
    contentStackedWidget->addWidget(aboutPanel);
    contentStackedWidget->addWidget(applyPanel);
    contentStackedWidget->addWidget(toolsPanel);
    contentStackedWidget->addWidget(errorPanel);
    contentStackedWidget->addWidget(updatePanel);
    contentStackedWidget->addWidget(packagesPanel);
    contentStackedWidget->addWidget(preferenceScrollArea);
}

void ZelManager::connectPages()
{
    connect(applyPanel, &ZelManagerApplyPanel::finished, this, &ZelManager::onApplyPanelFinished);
    connect(
        packageInfoPanel, &ZelManagerPackageInfoPanel::returnRequest, this, &ZelManager::onPackageInfoReturnRequest);
    connect(packagesPanel, &ZelManagerPackagesPanel::showInfoPanelRequest, this,
        &ZelManager::onShowPackageInfoPanelRequest);
    connect(categoryPanel, &ZelManagerCategoryPanel::showAboutRequest, this, &ZelManager::onShowAboutPanelRequest);
    connect(categoryPanel, &ZelManagerCategoryPanel::showApplyRequest, this, &ZelManager::onShowApplyPanelRequest);
    connect(categoryPanel, &ZelManagerCategoryPanel::showErrorRequest, this, &ZelManager::onShowErrorPanelRequest);
    connect(categoryPanel, &ZelManagerCategoryPanel::showToolsRequest, this, &ZelManager::onShowToolsPanelRequest);
    connect(toolsPanel, &ZelManagerToolsPanel::showToolsRequest, this, &ZelManager::onShowToolsPanelRequest);
    connect(toolsPanel, &ZelManagerToolsPanel::showApplyRequest, this, &ZelManager::onToolsApplyPanelRequest);
    connect(updatePanel, &ZelManagerUpdatePanel::showApplyRequest, this, &ZelManager::onUpdateApplyPanelRequest);
    connect(categoryPanel, &ZelManagerCategoryPanel::showUpdateRequest, this, &ZelManager::onShowUpdatePanelRequest);
    connect(categoryPanel, &ZelManagerCategoryPanel::showPreferenceRequest, this,
        &ZelManager::onShowPreferencePanelRequest);
    connect(database, &ZelManagerDatabase::errorsChanged, categoryPanel, &ZelManagerCategoryPanel::onErrorsChanged);
    connect(database, &ZelManagerDatabase::packagesRequestsChanged, categoryPanel,
        &ZelManagerCategoryPanel::onPackagesRequestsChanged);
    connect(database, &ZelManagerDatabase::packagesRequestsChanged, packagesPanel,
        &ZelManagerPackagesPanel::onPackagesRequestsChanged);
    // During a run the counter follows the operations still to do.
    connect(applyPanel->operationModel(), &ZelManagerOperationModel::packageCountChanged, categoryPanel,
        &ZelManagerCategoryPanel::onPackagesRequestsChanged);
    connect(applyPanel, &ZelManagerApplyPanel::stateChanged, categoryPanel,
        &ZelManagerCategoryPanel::onApplyPanelStateChanged);
    connect(updatePanel, &ZelManagerUpdatePanel::stateChanged, categoryPanel,
        &ZelManagerCategoryPanel::onUpdatePanelStateChanged);
    connect(
        updatePanel, &ZelManagerUpdatePanel::upgradeRequest, packagesPanel, &ZelManagerPackagesPanel::onUpgradeRequest);
    connect(
        categoryPanel, &ZelManagerCategoryPanel::showPackagesRequest, this, &ZelManager::onShowPackagesPanelRequest);
    connect(updatePanel, &ZelManagerUpdatePanel::checkingFinished, this, &ZelManager::on_homeButton_clicked);
}

// A database that knows no package yet has never read a repository index:
// the first start checks the repositories and then shows all packages.
void ZelManager::showFirstPage()
{
    if (!database->packages().isEmpty()) {
        on_homeButton_clicked();
        return;
    }
    packageInfoPanel->hide();
    hideFloatingCategory();
    contentStackedWidget->setCurrentWidget(updatePanel);
    updatePanel->checkAndApply();
}

ZelManager::~ZelManager()
{
    ZelManagerSettings::instance()->setWindowGeometry(saveGeometry());
    destroyTriggers();
    // The database takes the network access manager and then the settings
    // store (which saves itself) with it.
    ZelManagerDatabase::cleanup();
    ZelManagerScriptEngine::cleanup();
}

QSize ZelManager::minimumSizeHint() const
{
    return contentFrame->minimumSizeHint();
}

void ZelManager::openPage(QWidget *page, bool on)
{
    packageInfoPanel->hide();
    hideFloatingCategory();
    if (on && page) {
        contentFrame->show();
        contentStackedWidget->setCurrentWidget(page);
    }
}

void ZelManager::hideFloatingCategory()
{
    if (categoryFloating)
        categoryFrame->hide();
}

void ZelManager::onApplyPanelFinished()
{
    const int target = applyReturnTarget;
    applyReturnTarget = 0;
    if (target == 1)
        openPage(toolsPanel, true);
    else if (target == 2)
        openPage(updatePanel, true);
    else
        on_homeButton_clicked();
}

void ZelManager::onToolsApplyPanelRequest()
{
    applyReturnTarget = 1;
    openApplyPanel();
}

void ZelManager::onUpdateApplyPanelRequest()
{
    applyReturnTarget = 2;
    openApplyPanel();
}

void ZelManager::openApplyPanel()
{
    packageInfoPanel->hide();
    hideFloatingCategory();
    applyPanel->updatePanelStates();
    contentFrame->show();
    contentStackedWidget->setCurrentWidget(applyPanel);
}

void ZelManager::onShowAboutPanelRequest(bool on)
{
    openPage(aboutPanel, on);
}

void ZelManager::onShowApplyPanelRequest(bool on)
{
    openPage(nullptr, on);
    if (on)
        openApplyPanel();
}

void ZelManager::onShowErrorPanelRequest(bool on)
{
    openPage(errorPanel, on);
}

void ZelManager::onShowToolsPanelRequest(bool on)
{
    openPage(toolsPanel, on);
}

void ZelManager::onShowUpdatePanelRequest(bool on)
{
    openPage(updatePanel, on);
}

void ZelManager::onShowPreferencePanelRequest(bool on)
{
    openPage(preferenceScrollArea, on);
}

void ZelManager::onPackageInfoReturnRequest()
{
    packageInfoPanel->hide();
    contentFrame->show();
}

void ZelManager::onShowPackageInfoPanelRequest()
{
    if (packageInfoPanel->isVisible())
        return;
    contentFrame->hide();
    packageInfoPanel->show();
}

void ZelManager::onShowPackagesPanelRequest(const QString &name, const QStringList &path)
{
    QString title;
    for (const QString &level : path)
        title += QLatin1Char('/') + ZelManagerCategory::levelText(level);
    if (!name.isEmpty())
        title += QLatin1Char('/') + ZelManagerCategory::levelText(name);
    if (title.isEmpty())
        title = tr("All Packages");
    packagesPanel->setWindowTitle(title);
    categoryModel->setPath(path);
    packagesPanel->setCategories(path, name);
    if (contentStackedWidget->currentWidget() == packagesPanel)
        panelTitleLabel->setText(title);
    else
        contentStackedWidget->setCurrentWidget(packagesPanel);
    hideFloatingCategory();
    categoryPanel->resetPageButtons();
    packagesPanel->selectFirst();
    if (!packageInfoPanel->returnMode())
        packageInfoPanel->show();
    contentFrame->show();
}

void ZelManager::on_homeButton_clicked()
{
    onShowPackagesPanelRequest(QString(), QStringList());
    hideFloatingCategory();
}

void ZelManager::on_menuButton_clicked()
{
    categoryFrame->setGeometry(0, 0, categoryFrame->sizeHint().width(), height());
    categoryFrame->show();
    categoryFrame->raise();
}

void ZelManager::on_filterEdit_returnPressed()
{
    packagesPanel->setSearchText(filterEdit->text().trimmed());
    hideFloatingCategory();
}

void ZelManager::on_contentStackedWidget_currentChanged(int index)
{
    rebuildTitleRow(contentStackedWidget->widget(index));
}

void ZelManager::rebuildTitleRow(QWidget *page)
{
    auto *panel = qobject_cast<ZelManagerContentPanel *>(page);
    if (!panel)
        return;
    const QList<QToolButton *> buttons = panelActionsFrame->findChildren<QToolButton *>();
    for (QToolButton *button : buttons)
        delete button;
    panelIconLabel->setPixmap(panel->windowIcon().pixmap(16, 16));
    panelTitleLabel->setText(panel->windowTitle());
    const QList<QAction *> actions = panel->panelActions();
    for (QAction *action : actions) {
        auto *button = new QToolButton(panelActionsFrame);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        actionsLayout->addWidget(button);
        if (action->menu())
            connect(action, &QAction::triggered, button, &QToolButton::showMenu);
    }
}

void ZelManager::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    applyLayout(width());
}

// The columns get what their size hints ask for, left to right: the
// category column goes first when space runs out, then the information
// column stands in for the content column.
void ZelManager::applyLayout(int width)
{
    const int category = categoryFrame->sizeHint().width();
    const int line = vline1->sizeHint().width();
    const int content = contentFrame->sizeHint().width();
    const int information = packageInfoPanel->sizeHint().width();
    const bool packagesCurrent = contentStackedWidget->currentWidget() == packagesPanel;
    const bool informationVisible = packageInfoPanel->isVisibleTo(this);
    if (category + line + content > width) {
        if (!categoryFloating) {
            categoryFloating = true;
            vline3->show();
            menuButton->show();
            categoryFrame->hide();
            mainLayout->removeWidget(categoryFrame);
            categoryFrame->setFrameShadow(QFrame::Plain);
            categoryFrame->setFrameShape(QFrame::StyledPanel);
        }
        setInformationColumn(true, packagesCurrent && informationVisible);
        return;
    }
    if (categoryFloating) {
        categoryFloating = false;
        vline3->hide();
        menuButton->hide();
        mainLayout->insertWidget(0, categoryFrame);
        categoryFrame->setFrameShadow(QFrame::Plain);
        categoryFrame->setFrameShape(QFrame::NoFrame);
        categoryFrame->show();
    }
    if (width - category - line >= content + information) {
        contentFrame->show();
        packageInfoPanel->setVisible(packagesCurrent);
        packageInfoPanel->setReturnMode(false);
    } else {
        setInformationColumn(true, packagesCurrent && informationVisible);
    }
}

void ZelManager::setInformationColumn(bool returnMode, bool informationVisible)
{
    packageInfoPanel->setReturnMode(returnMode);
    packageInfoPanel->setVisible(informationVisible);
    contentFrame->setVisible(!informationVisible);
}
