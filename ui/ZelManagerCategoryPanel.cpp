#include "ui/ZelManagerCategoryPanel.h"

#include "ui/ZelManagerCategoryDelegate.h"
#include "ui/ZelManagerCategoryModel.h"

#include <QButtonGroup>

ZelManagerCategoryPanel::ZelManagerCategoryPanel(ZelManagerCategoryModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setupUi(this);
    m_buttonGroup = new QButtonGroup(this);
    m_buttonGroup->setExclusive(true);
    for (QAbstractButton *button :
        { errorButton, applyButton, updateButton, toolsButton, preferenceButton, aboutButton })
        m_buttonGroup->addButton(button);
    errorButton->hide();
    applyButton->hide();

    categoryListView->setItemDelegate(new ZelManagerCategoryDelegate(this));
    categoryListView->setModel(m_model);
    connect(m_model, &QAbstractItemModel::modelReset, this, &ZelManagerCategoryPanel::onCategoryModelReset);
    connect(aboutButton, &QAbstractButton::toggled, this, &ZelManagerCategoryPanel::showAboutRequest);
    connect(applyButton, &QAbstractButton::toggled, this, &ZelManagerCategoryPanel::showApplyRequest);
    connect(errorButton, &QAbstractButton::toggled, this, &ZelManagerCategoryPanel::showErrorRequest);
    connect(toolsButton, &QAbstractButton::toggled, this, &ZelManagerCategoryPanel::showToolsRequest);
    connect(updateButton, &QAbstractButton::toggled, this, &ZelManagerCategoryPanel::showUpdateRequest);
    connect(preferenceButton, &QAbstractButton::toggled, this, &ZelManagerCategoryPanel::showPreferenceRequest);
    onCategoryModelReset();
}

void ZelManagerCategoryPanel::resetPageButtons()
{
    m_buttonGroup->setExclusive(false);
    const QList<QAbstractButton *> buttons = m_buttonGroup->buttons();
    for (QAbstractButton *button : buttons)
        button->setChecked(false);
    m_buttonGroup->setExclusive(true);
}

QAbstractButton *ZelManagerCategoryPanel::pageButton(Page page) const
{
    switch (page) {
    case AboutPage:
        return aboutButton;
    case ApplyPage:
        return applyButton;
    case ErrorPage:
        return errorButton;
    case ToolsPage:
        return toolsButton;
    case UpdatePage:
        return updateButton;
    case PreferencePage:
        return preferenceButton;
    }
    return nullptr;
}

void ZelManagerCategoryPanel::setPageAvailable(Page page, bool available)
{
    QAbstractButton *button = pageButton(page);
    if (!button)
        return;
    button->setEnabled(available);
    if (!available)
        button->setChecked(false);
    // The apply and error buttons show only while they count something.
    if (page == ApplyPage)
        button->setVisible(available && m_pendingCount > 0);
    else if (page == ErrorPage)
        button->setVisible(available && m_errorCount > 0);
    else
        button->setVisible(available);
}

void ZelManagerCategoryPanel::onErrorsChanged(int count)
{
    m_errorCount = count;
    errorButton->setVisible(isAvailable(errorButton) && count > 0);
    errorButton->setText(tr("&Errors [%1 messages]").arg(count));
}

void ZelManagerCategoryPanel::onCategoryModelReset()
{
    const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, categoryListView);
    categoryListView->setMinimumHeight(m_model->rowCount() * 2 * (margin + 8));
}

void ZelManagerCategoryPanel::onPackagesRequestsChanged(int count)
{
    m_pendingCount = count;
    applyButton->setVisible(isAvailable(applyButton) && count > 0);
    updateApplyButtonText();
}

void ZelManagerCategoryPanel::onApplyPanelStateChanged(bool running)
{
    m_applying = running;
    updateApplyButtonText();
}

void ZelManagerCategoryPanel::updateApplyButtonText()
{
    if (m_applying)
        applyButton->setText(tr("&Applying [%1 Operations] ...").arg(m_pendingCount));
    else
        applyButton->setText(tr("&Apply [%1 Operations]").arg(m_pendingCount));
}

void ZelManagerCategoryPanel::onUpdatePanelStateChanged(bool running)
{
    updateButton->setText(running ? tr("&Updating ...") : tr("&Update"));
}

void ZelManagerCategoryPanel::on_categoryListView_clicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    if (m_buttonGroup->checkedButton())
        resetPageButtons();
    QStringList path = m_model->path();
    QString text = index.data(Qt::EditRole).toString();
    QString name;
    if (text.endsWith(QLatin1Char('>'))) {
        text.chop(1);
        path.append(text.trimmed());
    } else if (text.isEmpty()) {
        if (!path.isEmpty())
            path.removeLast();
    } else {
        name = text;
    }
    emit showPackagesRequest(name, path);
}
