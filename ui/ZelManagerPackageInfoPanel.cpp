#include "ui/ZelManagerPackageInfoPanel.h"

#include "database/ZelManagerCategory.h"
#include "database/ZelManagerDatabase.h"

#include <QAbstractTextDocumentLayout>
#include <QDateTime>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>

namespace {

QString timeText(qint64 seconds)
{
    if (seconds <= 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Long values (hashes, repository addresses) show from their start.
void setField(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    edit->setCursorPosition(0);
}

} // namespace

ZelManagerPackageInfoPanel::ZelManagerPackageInfoPanel(QWidget *parent)
    : ZelManagerContentPanel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    setupUi(this);
    connect(m_database, &ZelManagerDatabase::packagesChanged, this, &ZelManagerPackageInfoPanel::updateActionButton);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, this,
        &ZelManagerPackageInfoPanel::updateActionButton);
    setReturnMode(true);
    showPackage(QString());
}

QString ZelManagerPackageInfoPanel::packageName() const
{
    return titleEdit->text().trimmed();
}

void ZelManagerPackageInfoPanel::setReturnMode(bool on)
{
    m_returnMode = on;
    returnButton->setVisible(on);
}

void ZelManagerPackageInfoPanel::showPackage(const QString &name)
{
    const ZelManagerPackage package = m_database->package(name);
    setField(titleEdit, name);
    descriptionEdit->setPlainText(package.description());
    setField(maintainerEdit, package.maintainer());
    QStringList categories;
    const QStringList levels = package.categories();
    for (const QString &category : levels)
        categories.append(ZelManagerCategory::displayText(category));
    setField(categoryEdit, categories.join(QLatin1Char('/')));
    setField(repositoryEdit, package.repository());

    PackageInfo installed;
    PackageInfo available;
    if (!name.isEmpty()) {
        if (!package.installedVersion().isEmpty())
            installed = m_database->packageEntry(name, package.installedVersion(), true);
        if (!package.availableVersion().isEmpty())
            available = m_database->packageEntry(name, package.availableVersion(), false);
    }
    fillVersions(name, installed, available);
    fillLists(installed, available);
    fitDescriptionHeight();
    updateActionButton();
}

void ZelManagerPackageInfoPanel::fillVersions(
    const QString &name, const PackageInfo &installed, const PackageInfo &available)
{
    const bool hasInstalled = !installed.version.isEmpty();
    const bool hasAvailable = !available.version.isEmpty();
    const bool named = !name.isEmpty();
    setField(installedVersionEdit, hasInstalled ? installed.version : named ? tr("Not installed") : QString());
    setField(installedTimeEdit, hasInstalled ? timeText(installed.time) : QString());
    setField(installedHashEdit, hasInstalled ? installed.md5sum : QString());
    setField(availableVersionEdit, hasAvailable ? available.version : named ? tr("Not available") : QString());
    setField(availableTimeEdit, hasAvailable ? timeText(available.time) : QString());
    setField(availableHashEdit, hasAvailable ? available.md5sum : QString());
    if (repositoryEdit->text().isEmpty()) {
        const QUrl repository = hasAvailable ? available.repository : installed.repository;
        setField(repositoryEdit, repository.toString());
    }
}

void ZelManagerPackageInfoPanel::fillLists(const PackageInfo &installed, const PackageInfo &available)
{
    const bool hasInstalled = !installed.version.isEmpty();
    QStringList dependencies = hasInstalled ? installed.dependencies : available.dependencies;
    dependencies.sort();
    dependencyListWidget->clear();
    const QColor missing = palette().color(QPalette::Disabled, QPalette::Text);
    for (const QString &dependency : qAsConst(dependencies)) {
        auto *item = new QListWidgetItem(dependency, dependencyListWidget);
        item->setData(Qt::UserRole, dependency);
        if (m_database->package(splitDependency(dependency).first).isNull())
            item->setForeground(missing);
    }
    installedFilesListWidget->clear();
    installedFilesListWidget->addItems(installed.fileEntries.keys());
    fitListHeight(dependencyListWidget);
    fitListHeight(installedFilesListWidget);
}

// Every row shows without scrolling; the panel's own scroll area, if any,
// takes the length.
void ZelManagerPackageInfoPanel::fitListHeight(QListWidget *list)
{
    const int rowHeight = std::max(list->fontMetrics().height(), list->iconSize().height());
    const int extent = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    list->setFixedHeight(extent + 2 * list->frameWidth() + list->count() * rowHeight);
}

void ZelManagerPackageInfoPanel::fitDescriptionHeight()
{
    QTextDocument *document = descriptionEdit->document();
    int lines = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines += block.layout() ? std::max(1, block.layout()->lineCount()) : 1;
    const int fontHeight = descriptionEdit->fontMetrics().height();
    const int text = lines * fontHeight;
    descriptionEdit->setFixedHeight(text < 38 ? 48 : text + 10);
}

void ZelManagerPackageInfoPanel::resizeEvent(QResizeEvent *event)
{
    fitDescriptionHeight();
    ZelManagerContentPanel::resizeEvent(event);
}

void ZelManagerPackageInfoPanel::updateActionButton()
{
    const ZelManagerPackage package = m_database->package(packageName());
    QString text;
    QString icon;
    int kind = 0;
    if (package.isRequested()) {
        text = tr("&Cancel");
        icon = QStringLiteral(":/images/dialog-cancel.svg");
        kind = 1;
    } else if (!package.isInstalled()) {
        if (package.isInstallable()) {
            text = tr("&Install");
            icon = QStringLiteral(":/images/package-") + QStringLiteral("install.svg");
            kind = 3;
        }
    } else if (package.isUpgradable()) {
        text = tr("&Upgrade");
        icon = QStringLiteral(":/images/package-") + QStringLiteral("upgrade.svg");
        kind = 4;
    } else {
        text = tr("&Remove");
        icon = QStringLiteral(":/images/package-") + QStringLiteral("remove.svg");
        kind = 2;
    }
    actionButton->setText(text);
    actionButton->setIcon(icon.isEmpty() ? QIcon() : QIcon(icon));
    actionButton->setProperty("requestType", kind);
    actionButton->setEnabled(kind != 0);
}

void ZelManagerPackageInfoPanel::on_returnButton_clicked()
{
    emit returnRequest();
}

void ZelManagerPackageInfoPanel::on_actionButton_clicked()
{
    emit actionRequest(actionButton->property("requestType").toInt(), packageName());
    updateActionButton();
}

void ZelManagerPackageInfoPanel::on_dependencyListWidget_itemActivated(QListWidgetItem *item)
{
    if (!item)
        return;
    showPackage(splitDependency(item->data(Qt::UserRole).toString()).first);
}
