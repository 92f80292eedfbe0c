#include "ui/ZelManagerPreferencePanel.h"

#include "settings/ZelManagerSettings.h"
#include "tools/ZelManagerMigration.h"
#include "ui/ZelManagerApplyTargetDlg.h"
#include "ui/ZelManagerRepositoryDelegate.h"
#include "ui/ZelManagerRepositoryDlg.h"
#include "ui/ZelManagerRepositoryModel.h"

#include "ui_ZelManagerPreferencePanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolButton>

namespace {

const int ButtonGap = 5;

struct Architecture
{
    const char *text;
    const char *value;
};

const Architecture Architectures[] = {
    { QT_TRANSLATE_NOOP("Architecture", "Windows X86 32 Bit"), "win32" },
    { QT_TRANSLATE_NOOP("Architecture", "Windows X86 64 Bit"), "win64" },
};

} // namespace

ZelManagerPreferencePanel::ZelManagerPreferencePanel(QWidget *parent)
    : ZelManagerContentPanel(parent)
    , ui(new Ui::ZelManagerPreferencePanel)
{
    ui->setupUi(this);
    m_editButton = createToolButton(
        QStringLiteral("editButton"), tr("Edit repository"), QStringLiteral(":/images/document-edit.svg"));
    m_createButton = createToolButton(
        QStringLiteral("createButton"), tr("Add repository"), QStringLiteral(":/images/list-add.svg"));
    m_enableButton = createToolButton(
        QStringLiteral("enableButton"), tr("Repository state"), QStringLiteral(":/images/emblem-checked.svg"));
    m_removeButton = createToolButton(
        QStringLiteral("removeButton"), tr("Remove repository"), QStringLiteral(":/images/edit-delete.svg"));
    m_settings = ZelManagerSettings::instance();
    {
        const QSignalBlocker installBlocker(ui->installFolderEdit);
        const QSignalBlocker cacheBlocker(ui->cacheFolderEdit);
        ui->installFolderEdit->setText(m_settings->installPath());
        ui->cacheFolderEdit->setText(m_settings->cachePath());
    }
    {
        const QSignalBlocker blocker(ui->architectureComboBox);
        for (const Architecture &architecture : Architectures) {
            ui->architectureComboBox->addItem(QCoreApplication::translate("Architecture", architecture.text),
                QString::fromLatin1(architecture.value));
        }
        ui->architectureComboBox->setCurrentIndex(ui->architectureComboBox->findData(m_settings->architecture()));
    }
    m_model = new ZelManagerRepositoryModel(this);
    m_delegate = new ZelManagerRepositoryDelegate(this);
    ui->repositoryListView->setModel(m_model);
    ui->repositoryListView->setItemDelegate(m_delegate);
    ui->repositoryListView->viewport()->installEventFilter(this);

    connect(m_editButton, &QToolButton::clicked, this, &ZelManagerPreferencePanel::onEditButtonClicked);
    connect(m_enableButton, &QToolButton::clicked, this, &ZelManagerPreferencePanel::onEnableButtonClicked);
    connect(m_removeButton, &QToolButton::clicked, this, &ZelManagerPreferencePanel::onRemoveButtonClicked);
    connect(m_createButton, &QToolButton::clicked, this, &ZelManagerPreferencePanel::onCreateButtonClicked);
    for (QToolButton *button : { m_enableButton, m_removeButton }) {
        connect(button, &QToolButton::pressed, this, &ZelManagerPreferencePanel::onToolButtonPressed);
        connect(button, &QToolButton::released, this, &ZelManagerPreferencePanel::onToolButtonReleased);
    }
    connect(ui->repositoryListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &ZelManagerPreferencePanel::updateSelectedRows);
    connect(m_model, &QAbstractItemModel::modelReset, this, &ZelManagerPreferencePanel::onRepositoryCountChanged);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &ZelManagerPreferencePanel::onRepositoryCountChanged);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &ZelManagerPreferencePanel::onRepositoryCountChanged);
    // A folder typed in is taken when the user leaves the edit.
    connect(ui->cacheFolderEdit, &QLineEdit::editingFinished, this, &ZelManagerPreferencePanel::onCacheFolderEdited);
    onRepositoryCountChanged();
    updateTargetState();
}

ZelManagerPreferencePanel::~ZelManagerPreferencePanel() = default;

QToolButton *ZelManagerPreferencePanel::createToolButton(
    const QString &name, const QString &toolTip, const QString &icon)
{
    auto *button = new QToolButton(this);
    button->setObjectName(name);
    button->setToolTip(toolTip);
    button->setIcon(QIcon(icon));
    button->setAutoRaise(true);
    button->hide();
    return button;
}

void ZelManagerPreferencePanel::updateSelectedRows()
{
    const QModelIndexList rows = ui->repositoryListView->selectionModel()->selectedRows();
    for (const QModelIndex &index : rows)
        ui->repositoryListView->update(index);
}

void ZelManagerPreferencePanel::onToolButtonPressed()
{
    m_heldButton = qobject_cast<QToolButton *>(sender());
    updateSelectedRows();
}

void ZelManagerPreferencePanel::onToolButtonReleased()
{
    m_heldButton = nullptr;
    updateSelectedRows();
}

void ZelManagerPreferencePanel::onEditButtonClicked()
{
    // The row under the buttons; the current row when they were not placed.
    QUrl url = m_editButton->property("url").toUrl();
    if (url.isEmpty())
        url = m_model->url(ui->repositoryListView->currentIndex().row());
    if (!url.isValid() || url.isEmpty())
        return;
    ZelManagerRepositoryDlg dialog(this);
    dialog.setUrl(url);
    dialog.setLabel(m_settings->repositoryLabel(url));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QUrl newUrl = dialog.url();
    if (!newUrl.isValid() || newUrl.isEmpty())
        return;
    if (newUrl == url) {
        storeRepository(url, dialog.label());
        return;
    }
    // Editing the address replaces the repository, it does not copy it; the
    // new address keeps the old one's state unless the settings know it.
    const bool enabled = m_settings->hasRepository(newUrl) ? m_settings->isRepositoryEnabled(newUrl)
                                                           : m_settings->isRepositoryEnabled(url);
    m_settings->removeRepository(url);
    m_settings->setRepository(newUrl, dialog.label(), enabled);
}

void ZelManagerPreferencePanel::onEnableButtonClicked()
{
    const QObject *button = sender();
    if (!button)
        return;
    const bool enabled = button->property("enableState").toBool();
    const QModelIndexList rows = ui->repositoryListView->selectionModel()->selectedRows();
    QList<QUrl> urls;
    for (const QModelIndex &index : rows)
        urls.append(m_model->url(index.row()));
    // With no selection the hovered row is the one meant.
    if (urls.isEmpty())
        urls.append(button->property("url").toUrl());
    for (const QUrl &url : qAsConst(urls)) {
        if (url.isValid() && !url.isEmpty())
            m_settings->setRepositoryEnabled(url, !enabled);
    }
    m_enableButton->setProperty("enableState", !enabled);
    m_enableButton->setIcon(QIcon(
        !enabled ? QStringLiteral(":/images/emblem-checked.svg") : QStringLiteral(":/images/package-available.svg")));
}

void ZelManagerPreferencePanel::onRemoveButtonClicked()
{
    const QModelIndexList rows = ui->repositoryListView->selectionModel()->selectedRows();
    QList<QUrl> urls;
    for (const QModelIndex &index : rows)
        urls.append(m_model->url(index.row()));
    if (urls.isEmpty())
        urls.append(m_removeButton->property("url").toUrl());
    for (const QUrl &url : qAsConst(urls)) {
        if (url.isValid() && !url.isEmpty())
            m_settings->removeRepository(url);
    }
    m_editButton->hide();
    m_enableButton->hide();
    m_removeButton->hide();
}

void ZelManagerPreferencePanel::onCreateButtonClicked()
{
    ZelManagerRepositoryDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    storeRepository(dialog.url(), dialog.label());
}

// A URL the settings hold keeps its enabled state; a new one is enabled.
void ZelManagerPreferencePanel::storeRepository(const QUrl &url, const QString &label)
{
    if (!url.isValid() || url.isEmpty())
        return;
    const bool enabled = m_settings->hasRepository(url) ? m_settings->isRepositoryEnabled(url) : true;
    m_settings->setRepository(url, label, enabled);
}

void ZelManagerPreferencePanel::onRepositoryCountChanged()
{
    QStyleOptionViewItem option;
    option.initFrom(ui->repositoryListView);
    option.widget = ui->repositoryListView;
    const int rowHeight = ZelManagerRepositoryDelegate::rowHeight(option);
    ui->repositoryListView->setFixedHeight(m_model->rowCount() * (rowHeight + 2) + 2);
    hideButtons();
}

int ZelManagerPreferencePanel::clearCacheFolder(const QString &folder)
{
    if (folder.isEmpty())
        return 0;
    int count = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isFile() && !entry.isSymLink() && entry.suffix() == QLatin1String("cache")
            && QFile::remove(entry.filePath()))
            ++count;
    }
    return count;
}

void ZelManagerPreferencePanel::on_clearCacheFolderButton_clicked()
{
    const QString text = ui->clearCacheFolderButton->text();
    ui->clearCacheFolderButton->setText(tr("Clearing ..."));
    ui->clearCacheFolderButton->repaint();
    clearCacheFolder(m_settings->cachePath());
    ui->clearCacheFolderButton->setText(text);
}

void ZelManagerPreferencePanel::on_browseCacheFolderButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Select Cache Path"), ui->cacheFolderEdit->text().trimmed(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    ui->cacheFolderEdit->setText(QDir::fromNativeSeparators(folder));
    m_settings->setCachePath(QDir::fromNativeSeparators(folder));
}

void ZelManagerPreferencePanel::onCacheFolderEdited()
{
    const QString folder = QDir::fromNativeSeparators(ui->cacheFolderEdit->text().trimmed());
    if (!folder.isEmpty() && folder != m_settings->cachePath())
        m_settings->setCachePath(folder);
}

void ZelManagerPreferencePanel::on_browseInstallFolderButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Select Install Path"), ui->installFolderEdit->text().trimmed(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        chooseInstallFolder(folder);
}

bool ZelManagerPreferencePanel::chooseInstallFolder(const QString &folder)
{
    const QString path = QDir::fromNativeSeparators(folder);
    const QString refusal = ZelManagerMigration::folderRefusal(path, m_settings->architecture());
    if (!refusal.isEmpty()) {
        showTargetMessage(QMessageBox::Critical, tr("Path Error"), refusal, QString());
        return false;
    }
    ui->installFolderEdit->setText(path);
    updateTargetState();
    return true;
}

void ZelManagerPreferencePanel::on_applyTargetSettingsButton_clicked()
{
    if (m_installFolderChanged) {
        ZelManagerApplyTargetDlg dialog(this);
        const int answer = dialog.exec();
        if (answer == ZelManagerApplyTargetDlg::Switch)
            applyInstallFolder(ZelManagerMigration::Switch);
        else if (answer == ZelManagerApplyTargetDlg::Migrate)
            applyInstallFolder(ZelManagerMigration::Migrate);
    }
    if (m_architectureChanged) {
        m_architectureChanged = false;
        m_settings->setArchitecture(ui->architectureComboBox->currentData().toString());
    }
    updateTargetState();
}

void ZelManagerPreferencePanel::applyInstallFolder(int mode)
{
    ui->applyTargetSettingsButton->setEnabled(false);
    ZelManagerMigration migration(ui->installFolderEdit->text());
    connect(&migration, &ZelManagerMigration::stepStarted, this, &ZelManagerPreferencePanel::onTargetStepStarted);
    connect(&migration, &ZelManagerMigration::progress, ui->targetProgressBar, &QProgressBar::setValue);
    migration.setRemovalConfirmation([this] { return confirmOldFolderRemoval(); });
    if (!migration.run(ZelManagerMigration::Mode(mode))) {
        updateTargetState();
        showTargetMessage(QMessageBox::Critical, tr("Path Error"), migration.errorText(), migration.errorDetails());
        return;
    }
    m_installFolderChanged = false;
    {
        const QSignalBlocker blocker(ui->installFolderEdit);
        ui->installFolderEdit->setText(m_settings->installPath());
    }
    const QStringList remaining = migration.remainingFiles();
    if (!remaining.isEmpty()) {
        showTargetMessage(QMessageBox::Warning, tr("Remove Files"),
            tr("%n file(s) of the old installation folder %1 could not be removed.", nullptr, remaining.size())
                .arg(QDir::toNativeSeparators(migration.oldInstallPath())),
            remaining.join(QLatin1Char('\n')));
    }
}

void ZelManagerPreferencePanel::onTargetStepStarted(const QString &format, int maximum)
{
    ui->targetStackedWidget->setCurrentWidget(ui->targetProgressPage);
    ui->targetProgressBar->show();
    ui->targetProgressBar->setRange(0, maximum);
    ui->targetProgressBar->setFormat(format);
    ui->targetProgressBar->setValue(0);
}

// Asked once the installation works from the new folder: cancelling keeps
// the old folder as it is.
bool ZelManagerPreferencePanel::confirmOldFolderRemoval()
{
    QMessageBox box(QMessageBox::Warning, tr("Remove Confirm"),
        tr("The old installation folder will be removed!") + QLatin1Char('\n')
            + tr("Any running installed applications will be terminated!") + QLatin1Char('\n')
            + tr("Please close those applications before continue!")
            + QStringLiteral("\n\n%1").arg(tr("Press [OK] button when you are ready.")),
        QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

void ZelManagerPreferencePanel::showTargetMessage(
    int icon, const QString &title, const QString &text, const QString &details)
{
    QMessageBox box(QMessageBox::Icon(icon), title, text, QMessageBox::Ok, this);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void ZelManagerPreferencePanel::on_installFolderEdit_textChanged(const QString &text)
{
    m_installFolderChanged = QDir::cleanPath(QDir::fromNativeSeparators(text.trimmed())) != m_settings->installPath();
    updateTargetState();
}

void ZelManagerPreferencePanel::on_architectureComboBox_currentIndexChanged(int index)
{
    m_architectureChanged = ui->architectureComboBox->itemData(index).toString() != m_settings->architecture();
    updateTargetState();
}

// Something to apply: the button and the note; nothing: an empty line.
void ZelManagerPreferencePanel::updateTargetState()
{
    const bool pending = m_installFolderChanged || m_architectureChanged;
    ui->applyTargetSettingsButton->setEnabled(pending);
    if (pending) {
        ui->targetStackedWidget->setCurrentWidget(ui->targetTipPage);
    } else {
        ui->targetProgressBar->hide();
        ui->targetStackedWidget->setCurrentWidget(ui->targetProgressPage);
    }
}

bool ZelManagerPreferencePanel::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == ui->repositoryListView->viewport()
        && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseMove)) {
        placeButtons(static_cast<QMouseEvent *>(event)->pos());
    }
    return ZelManagerContentPanel::eventFilter(watched, event);
}

void ZelManagerPreferencePanel::hideButtons()
{
    m_editButton->hide();
    m_createButton->hide();
    m_enableButton->hide();
    m_removeButton->hide();
}

// Buttons go from the right edge of the hovered row leftwards, square and
// vertically centred: the state button, then remove, then edit.
void ZelManagerPreferencePanel::placeButtons(const QPoint &position)
{
    QListView *view = ui->repositoryListView;
    const QModelIndex index = view->indexAt(position);
    if (!index.isValid()) {
        hideButtons();
        return;
    }
    const int row = index.row();
    const QRect rect = view->visualRect(index);
    const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, this);
    const int size = qMax(16, rect.height() - 2 * margin);
    const QPoint topRight = view->viewport()->mapTo(this, rect.topRight());
    QRect square(topRight.x() - margin - size + 1, topRight.y() + (rect.height() - size) / 2, size, size);

    if (m_model->rowCount() == row + 1) {
        m_editButton->hide();
        m_enableButton->hide();
        m_removeButton->hide();
        m_createButton->setGeometry(square);
        m_createButton->show();
        m_createButton->raise();
        return;
    }
    m_createButton->hide();
    const QItemSelectionModel *selection = view->selectionModel();
    const int selected = selection->selectedRows().size();
    const bool show = selection->isRowSelected(row, QModelIndex()) || selected == 0;
    const QUrl url = m_model->url(row);
    const bool enabled = m_settings->isRepositoryEnabled(url);
    m_enableButton->setProperty("enableState", enabled);
    for (QToolButton *button : { m_editButton, m_enableButton, m_removeButton })
        button->setProperty("url", url);
    m_enableButton->setIcon(QIcon(
        enabled ? QStringLiteral(":/images/emblem-checked.svg") : QStringLiteral(":/images/package-available.svg")));
    QList<QToolButton *> buttons { m_enableButton, m_removeButton, m_editButton };
    for (QToolButton *button : buttons) {
        const bool visible = show && (button != m_editButton || selected < 2);
        button->setGeometry(square);
        button->setVisible(visible);
        if (visible)
            button->raise();
        square.translate(-(size + ButtonGap), 0);
    }
}
