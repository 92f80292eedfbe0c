#include "ui/ZelManagerPackagesPanel.h"

#include "app/ZelManagerMessageDlg.h"
#include "database/ZelManagerDatabase.h"
#include "ui/ZelManagerPackageDelegate.h"
#include "ui/ZelManagerPackageFilterModel.h"
#include "ui/ZelManagerPackageInfoPanel.h"
#include "ui/ZelManagerPackageModel.h"

#include <QActionGroup>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

ZelManagerPackagesPanel::ZelManagerPackagesPanel(ZelManagerPackageModel *model, QWidget *parent)
    : ZelManagerContentPanel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    setupUi(this);
    createMenus();
    createOverlayButtons();

    m_filter = new ZelManagerPackageFilterModel(this);
    m_filter->setSourceModel(model);
    packageListView->setModel(m_filter);
    m_filter->sort(0, Qt::AscendingOrder);

    m_delegate = new ZelManagerPackageDelegate(this);
    m_delegate->setButtonSize(m_operationButton->sizeHint().width());
    m_operationButton->resize(m_delegate->buttonSize(), m_delegate->buttonSize());
    m_bookmarkButton->resize(m_delegate->buttonSize(), m_delegate->buttonSize());
    packageListView->setItemDelegate(m_delegate);

    packageListView->viewport()->installEventFilter(this);
    connect(m_operationButton, &QToolButton::clicked, this, &ZelManagerPackagesPanel::onOperatorButtonClicked);
    connect(m_bookmarkButton, &QToolButton::clicked, this, &ZelManagerPackagesPanel::onBookmarkButtonClicked);
    connect(packageListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &ZelManagerPackagesPanel::onPackageSelectionChanged);
    connect(m_operationMenu, &QMenu::aboutToShow, this, &ZelManagerPackagesPanel::onOperationMenuAboutToShow);
    // The view's model was set after the form connected by name; the
    // selection model exists only now.
    m_operationMenu->menuAction()->setEnabled(false);
    cancelAllPackagesAction->setEnabled(false);
}

void ZelManagerPackagesPanel::createMenus()
{
    m_showMenu = new QMenu(tr("&Show"), this);
    m_showMenu->addActions({ showAllAction, showRequestedAction });
    m_showMenu->addSeparator();
    m_showMenu->addActions({ showBookmarkedAction, showInstalledAction, showAvailableAction, showUpgradableAction,
        showInstallRequestedAction, showUpgradeRequestedAction, showRemoveRequestedAction,
        showReinstallRequestedAction });
    m_sortMenu = new QMenu(this);
    m_sortMenu->addActions({ sortByNameAction, sortByDateAction, sortByStatusAction });
    m_operationMenu = new QMenu(tr("Operation"), this);
    m_operationMenu->addAction(bookmarkPackageAction);
    m_operationMenu->addSeparator();
    m_operationMenu->addActions(
        { installPackageAction, upgradePackageAction, removePackageAction, reinstallPackageAction });
    m_operationMenu->addSeparator();
    m_operationMenu->addActions({ cancelPackageAction, cancelAllPackagesAction });

    m_sortGroup = new QActionGroup(this);
    for (QAction *action : { sortByNameAction, sortByDateAction, sortByStatusAction })
        m_sortGroup->addAction(action);
    m_showGroup = new QActionGroup(this);
    for (QAction *action : { showAllAction, showRequestedAction, showBookmarkedAction, showInstalledAction,
             showAvailableAction, showUpgradableAction, showInstallRequestedAction, showUpgradeRequestedAction,
             showRemoveRequestedAction, showReinstallRequestedAction })
        m_showGroup->addAction(action);
    updateSortMenuTitle();
}

// The buttons only take clicks forwarded from the viewport; the delegate
// draws their faces on every row.
void ZelManagerPackagesPanel::createOverlayButtons()
{
    QWidget *view = packageListView;
    m_operationButton = new QToolButton(view);
    m_bookmarkButton = new QToolButton(view);
    m_operationButton->setObjectName(QStringLiteral("operationButton"));
    m_bookmarkButton->setObjectName(QStringLiteral("bookmarkButton"));
    m_operationButton->setIcon(QIcon(QStringLiteral(":/images/package-available.svg")));
    m_bookmarkButton->setIcon(QIcon(QStringLiteral(":/images/flag.svg")));
    for (QToolButton *button : { m_operationButton, m_bookmarkButton }) {
        button->hide();
        button->setAutoRaise(false);
        button->setAutoFillBackground(false);
        button->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
}

QWidget *ZelManagerPackagesPanel::watchedWidget() const
{
    return packageListView->viewport();
}

QList<QAbstractButton *> ZelManagerPackagesPanel::overlayButtons() const
{
    return { m_bookmarkButton, m_operationButton };
}

QList<QAction *> ZelManagerPackagesPanel::panelActions() const
{
    return { m_operationMenu->menuAction(), m_showMenu->menuAction(), m_sortMenu->menuAction() };
}

void ZelManagerPackagesPanel::setInformationPanel(ZelManagerPackageInfoPanel *panel)
{
    m_infoPanel = panel;
    connect(panel, &ZelManagerPackageInfoPanel::actionRequest, this, &ZelManagerPackagesPanel::onInfoActionRequest);
}

void ZelManagerPackagesPanel::setSearchText(const QString &text)
{
    if (text == m_filter->searchText())
        return;
    m_filter->setSearchText(text);
    selectFirst();
}

void ZelManagerPackagesPanel::setCategories(const QStringList &levels, const QString &name)
{
    QStringList categories = levels;
    if (!name.isEmpty())
        categories.append(name);
    m_filter->setCategories(categories);
}

void ZelManagerPackagesPanel::selectFirst()
{
    QItemSelectionModel *selection = packageListView->selectionModel();
    selection->clearSelection();
    if (m_filter->rowCount() > 0)
        selection->setCurrentIndex(m_filter->index(0, 0), QItemSelectionModel::ClearAndSelect);
}

QString ZelManagerPackagesPanel::failureTitle(int kind)
{
    switch (kind) {
    case CancelRequest:
        return tr("Cancel Failed");
    case RemoveRequest:
        return tr("Remove Failed");
    case InstallRequest:
        return tr("Install Failed");
    case UpgradeRequest:
        return tr("Upgrade Failed");
    case ReinstallRequest:
        return tr("Reinstall Failed");
    default:
        return QString();
    }
}

QString ZelManagerPackagesPanel::failureMessage(int kind, int count)
{
    QString verb;
    switch (kind) {
    case CancelRequest:
        verb = tr("canceled");
        break;
    case RemoveRequest:
        verb = tr("removed");
        break;
    case InstallRequest:
        verb = tr("installed");
        break;
    case UpgradeRequest:
        verb = tr("upgraded");
        break;
    case ReinstallRequest:
        verb = tr("reinstalled");
        break;
    default:
        return QString();
    }
    const QString noun = count < 2 ? tr("package") : tr("packages");
    return tr("Totally %1 %2 can not be %3!").arg(count).arg(noun, verb);
}

void ZelManagerPackagesPanel::showFailureDialog(int kind, const QStringList &texts)
{
    const QString message = failureMessage(kind, texts.size());
    if (texts.isEmpty() || message.isEmpty())
        return;
    ZelManagerMessageDlg dialog(this);
    dialog.setWindowTitle(failureTitle(kind));
    dialog.setIcon(ZelManagerMessageDlg::Error);
    dialog.setMessage(message);
    dialog.setDetailText(texts.join(QLatin1Char('\n')));
    dialog.setButtons(QMessageBox::Ok);
    dialog.exec();
}

ZelManagerPackage ZelManagerPackagesPanel::packageAt(const QModelIndex &index) const
{
    return m_database->package(index.data(Qt::EditRole).toString());
}

QStringList ZelManagerPackagesPanel::selectedNames() const
{
    QStringList names;
    const QModelIndexList rows = packageListView->selectionModel()->selectedIndexes();
    for (const QModelIndex &index : rows)
        names.append(index.data(Qt::EditRole).toString());
    return names;
}

void ZelManagerPackagesPanel::onPackageSelectionChanged()
{
    QItemSelectionModel *selection = packageListView->selectionModel();
    const QModelIndexList rows = selection->selectedIndexes();
    m_operationMenu->menuAction()->setEnabled(!rows.isEmpty());
    QString name;
    const QModelIndex current = selection->currentIndex();
    if (!rows.isEmpty()) {
        if (current.isValid())
            name = current.data(Qt::EditRole).toString();
        else if (rows.size() == 1)
            name = rows.first().data(Qt::EditRole).toString();
    }
    if (m_infoPanel)
        m_infoPanel->showPackage(name);
}

void ZelManagerPackagesPanel::onOperationMenuAboutToShow()
{
    int selected = 0;
    int installed = 0;
    int upgradable = 0;
    int requested = 0;
    for (const QString &name : selectedNames()) {
        const ZelManagerPackage package = m_database->package(name);
        ++selected;
        installed += package.isInstalled() ? 1 : 0;
        upgradable += package.isUpgradable() ? 1 : 0;
        requested += package.isRequested() ? 1 : 0;
    }
    const QList<QAction *> marking
        = { installPackageAction, upgradePackageAction, removePackageAction, reinstallPackageAction };
    if (selected == 0 || (upgradable != 0 && upgradable != installed)) {
        for (QAction *action : marking)
            action->setEnabled(false);
        cancelPackageAction->setEnabled(false);
        return;
    }
    cancelPackageAction->setEnabled(requested > 0);
    removePackageAction->setEnabled(installed > 0 && requested == 0);
    reinstallPackageAction->setEnabled(installed > 0 && requested == 0);
    installPackageAction->setEnabled(installed == 0 && requested == 0);
    upgradePackageAction->setEnabled(upgradable > 0 && requested == 0);
}

void ZelManagerPackagesPanel::onPackagesRequestsChanged(int count)
{
    cancelAllPackagesAction->setEnabled(count > 0);
}

void ZelManagerPackagesPanel::onUpgradeRequest(const QString &name)
{
    const ZelManagerPackage package = m_database->package(name);
    if (package.isNull())
        return;
    m_database->requestUpgrade(package, QString());
    m_filter->invalidate();
}

void ZelManagerPackagesPanel::onInfoActionRequest(int kind, const QString &name)
{
    const ZelManagerPackage package = m_database->package(name);
    m_database->beginTransaction();
    const QString failure = request(kind, package);
    m_database->endTransaction(false);
    if (!failure.isEmpty())
        showFailureDialog(kind, { failure });
    m_filter->invalidate();
}

bool ZelManagerPackagesPanel::appliesTo(int kind, const ZelManagerPackage &package) const
{
    switch (kind) {
    case CancelRequest:
        return package.isRequested();
    case RemoveRequest:
    case ReinstallRequest:
        return package.isInstalled();
    case InstallRequest:
        return !package.isInstalled();
    case UpgradeRequest:
        return package.isUpgradable();
    default:
        return false;
    }
}

QString ZelManagerPackagesPanel::request(int kind, const ZelManagerPackage &package)
{
    switch (kind) {
    case CancelRequest:
        return m_database->cancelRequest(package);
    case RemoveRequest:
        return m_database->requestRemove(package);
    case InstallRequest:
        return m_database->requestInstall(package);
    case UpgradeRequest:
        return m_database->requestUpgrade(package, QString());
    case ReinstallRequest:
        return m_database->requestReinstall(package);
    default:
        return QString();
    }
}

void ZelManagerPackagesPanel::markSelected(int kind)
{
    QStringList failures;
    const QStringList names = selectedNames();
    m_database->beginTransaction();
    for (const QString &name : names) {
        const ZelManagerPackage package = m_database->package(name);
        if (!appliesTo(kind, package))
            continue;
        const QString failure = request(kind, package);
        if (!failure.isEmpty())
            failures.append(failure);
    }
    m_database->endTransaction(false);
    showFailureDialog(kind, failures);
    m_filter->invalidate();
}

void ZelManagerPackagesPanel::on_cancelPackageAction_triggered()
{
    markSelected(CancelRequest);
}

void ZelManagerPackagesPanel::on_removePackageAction_triggered()
{
    markSelected(RemoveRequest);
}

void ZelManagerPackagesPanel::on_installPackageAction_triggered()
{
    markSelected(InstallRequest);
}

void ZelManagerPackagesPanel::on_upgradePackageAction_triggered()
{
    markSelected(UpgradeRequest);
}

void ZelManagerPackagesPanel::on_reinstallPackageAction_triggered()
{
    markSelected(ReinstallRequest);
}

void ZelManagerPackagesPanel::on_bookmarkPackageAction_triggered()
{
    for (const QString &name : selectedNames()) {
        ZelManagerPackage package = m_database->package(name);
        if (!package.isNull())
            package.setBookmarked(!package.isBookmarked());
    }
    packageListView->viewport()->update();
}

void ZelManagerPackagesPanel::on_cancelAllPackagesAction_triggered()
{
    const QHash<QString, ZelManagerPackage> packages = m_database->packages();
    m_database->beginTransaction();
    for (const ZelManagerPackage &package : packages) {
        if (package.isRequested())
            m_database->cancelRequest(package);
    }
    m_database->endTransaction(false);
    m_filter->invalidate();
}

QModelIndex ZelManagerPackagesPanel::clickedItem(QToolButton *button) const
{
    const QModelIndex index = button->property("item").value<QPersistentModelIndex>();
    button->setProperty("item", QVariant());
    return index;
}

void ZelManagerPackagesPanel::onOperatorButtonClicked()
{
    const QModelIndex index = clickedItem(m_operationButton);
    if (!index.isValid())
        return;
    const ZelManagerPackage package = packageAt(index);
    QMenu menu(this);
    if (package.isInstalled()) {
        if (package.isUpgradable() && !package.isUpgradeRequested())
            menu.addAction(upgradePackageAction);
        if (!package.isRemoveRequested())
            menu.addAction(removePackageAction);
        if (!package.isReinstallRequested())
            menu.addAction(reinstallPackageAction);
    } else if (!package.isInstallRequested()) {
        menu.addAction(installPackageAction);
    }
    if (package.isRequested())
        menu.addAction(cancelPackageAction);
    const QList<QAction *> actions = menu.actions();
    for (QAction *action : actions)
        action->setEnabled(true);
    m_delegate->setOperationMenuOpen(true, index);
    packageListView->viewport()->update();
    menu.exec(m_operationButton->mapToGlobal(QPoint(0, m_operationButton->height() - 1)));
    m_delegate->setOperationMenuOpen(false);
    packageListView->viewport()->update();
}

void ZelManagerPackagesPanel::onBookmarkButtonClicked()
{
    const QModelIndex index = clickedItem(m_bookmarkButton);
    if (!index.isValid())
        return;
    ZelManagerPackage package = packageAt(index);
    package.setBookmarked(!package.isBookmarked());
    QString icon;
    QString toolTip;
    package.bookmarkIcon(icon, toolTip);
    m_bookmarkButton->setToolTip(toolTip);
    packageListView->viewport()->update(packageListView->visualRect(index));
}

void ZelManagerPackagesPanel::setShowFilter(bool checked, int filter)
{
    if (checked)
        m_filter->setShowFilter(filter);
}

void ZelManagerPackagesPanel::on_showAllAction_toggled(bool checked)
{
    setShowFilter(checked, 0);
}

void ZelManagerPackagesPanel::on_showRequestedAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::RequestMask);
}

void ZelManagerPackagesPanel::on_showInstalledAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::FlagInstalled);
}

void ZelManagerPackagesPanel::on_showAvailableAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::FlagInstallable);
}

void ZelManagerPackagesPanel::on_showUpgradableAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::FlagUpgradable);
}

void ZelManagerPackagesPanel::on_showBookmarkedAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::FlagBookmarked);
}

void ZelManagerPackagesPanel::on_showRemoveRequestedAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::RequestRemove);
}

void ZelManagerPackagesPanel::on_showUpgradeRequestedAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::RequestUpgrade);
}

void ZelManagerPackagesPanel::on_showInstallRequestedAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::RequestInstall);
}

void ZelManagerPackagesPanel::on_showReinstallRequestedAction_toggled(bool checked)
{
    setShowFilter(checked, ZelManagerPackage::RequestReinstall);
}

void ZelManagerPackagesPanel::setSortMode(bool checked, int mode)
{
    if (!checked)
        return;
    m_filter->setSortMode(mode);
    updateSortMenuTitle();
}

void ZelManagerPackagesPanel::on_sortByNameAction_toggled(bool checked)
{
    setSortMode(checked, ZelManagerPackageFilterModel::SortByName);
}

void ZelManagerPackagesPanel::on_sortByDateAction_toggled(bool checked)
{
    setSortMode(checked, ZelManagerPackageFilterModel::SortByDate);
}

void ZelManagerPackagesPanel::on_sortByStatusAction_toggled(bool checked)
{
    setSortMode(checked, ZelManagerPackageFilterModel::SortByStatus);
}

void ZelManagerPackagesPanel::updateSortMenuTitle()
{
    QString name = tr("None");
    if (sortByNameAction->isChecked())
        name = tr("Name");
    else if (sortByDateAction->isChecked())
        name = tr("Date");
    else if (sortByStatusAction->isChecked())
        name = tr("Status");
    m_sortMenu->setTitle(tr("&Sort:%1").arg(name));
}

void ZelManagerPackagesPanel::clickArmedButton(const QModelIndex &index)
{
    QToolButton *button = nullptr;
    if (m_bookmarkButtonArmed)
        button = m_bookmarkButton;
    else if (m_operationButtonArmed)
        button = m_operationButton;
    if (!button)
        return;
    // Persistent: the filter may be rebuilt before the button's click lands.
    button->setProperty("item", QVariant::fromValue(QPersistentModelIndex(index)));
    button->animateClick(100);
}

void ZelManagerPackagesPanel::on_packageListView_clicked(const QModelIndex &index)
{
    if (!m_infoPanel)
        return;
    m_infoPanel->showPackage(index.data(Qt::EditRole).toString());
    clickArmedButton(index);
}

void ZelManagerPackagesPanel::on_packageListView_activated(const QModelIndex &index)
{
    if (!m_infoPanel)
        return;
    m_infoPanel->showPackage(index.data(Qt::EditRole).toString());
    clickArmedButton(index);
    emit showInfoPanelRequest();
}

void ZelManagerPackagesPanel::armButtons(const QPoint &position)
{
    const QModelIndex index = packageListView->indexAt(position);
    if (!index.isValid())
        return;
    const QRect row = packageListView->visualRect(index);
    const int size = m_delegate->buttonSize();
    const QRect bookmark = ZelManagerPackageDelegate::bookmarkRect(row, size);
    const QRect operation = ZelManagerPackageDelegate::operationRect(row, size);
    m_bookmarkButtonArmed = bookmark.contains(position);
    m_operationButtonArmed = !m_bookmarkButtonArmed && operation.contains(position);
    m_bookmarkButton->setGeometry(bookmark);
    m_operationButton->setGeometry(operation);
}

bool ZelManagerPackagesPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == packageListView->viewport()) {
        switch (event->type()) {
        case QEvent::MouseMove:
            armButtons(static_cast<QMouseEvent *>(event)->pos());
            break;
        case QEvent::Leave:
            m_bookmarkButtonArmed = false;
            m_operationButtonArmed = false;
            break;
        case QEvent::Paint: {
            QPainter painter(packageListView->viewport());
            const QPalette &palette = packageListView->viewport()->palette();
            painter.fillRect(static_cast<QPaintEvent *>(event)->rect(),
                palette.brush(palette.currentColorGroup(), QPalette::Button));
            break;
        }
        default:
            break;
        }
    }
    return ZelManagerContentPanel::eventFilter(watched, event);
}
