#include "ui/ZelManagerRepositoryDlg.h"

#include "ui_ZelManagerRepositoryDlg.h"

#include <QPushButton>

ZelManagerRepositoryDlg::ZelManagerRepositoryDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ZelManagerRepositoryDlg)
{
    ui->setupUi(this);
    updateOkButtonState();
}

ZelManagerRepositoryDlg::~ZelManagerRepositoryDlg() = default;

void ZelManagerRepositoryDlg::setUrl(const QUrl &url)
{
    if (!url.isValid())
        return;
    m_initialUrl = url.toString();
    ui->urlEdit->setText(m_initialUrl);
    m_urlChanged = false;
    updateOkButtonState();
}

void ZelManagerRepositoryDlg::setLabel(const QString &label)
{
    m_initialLabel = label.trimmed();
    ui->labelEdit->setText(m_initialLabel);
    m_labelChanged = false;
    updateOkButtonState();
}

QUrl ZelManagerRepositoryDlg::url() const
{
    return urlFromText(ui->urlEdit->text());
}

QString ZelManagerRepositoryDlg::label() const
{
    return ui->labelEdit->text().trimmed();
}

QUrl ZelManagerRepositoryDlg::urlFromText(const QString &text)
{
    return QUrl::fromUserInput(text.trimmed());
}

// A repository needs an address: an empty or unreadable URL is never
// accepted, whatever else changed.
void ZelManagerRepositoryDlg::updateOkButtonState()
{
    const QUrl address = url();
    const bool usable = address.isValid() && !address.isEmpty();
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(usable && (m_urlChanged || m_labelChanged));
}

void ZelManagerRepositoryDlg::on_urlEdit_textChanged(const QString &text)
{
    m_urlChanged = text.trimmed() != m_initialUrl;
    updateOkButtonState();
}

void ZelManagerRepositoryDlg::on_labelEdit_textChanged(const QString &text)
{
    m_labelChanged = text.trimmed() != m_initialLabel;
    updateOkButtonState();
}
