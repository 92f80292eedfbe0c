#include "app/ZelManagerMessageDlg.h"

#include <QIcon>
#include <QMessageBox>

#include <algorithm>

namespace {

const int MaximumWidth = 640;
const int ExpandedHeight = 300;

} // namespace

ZelManagerMessageDlg::ZelManagerMessageDlg(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    retryButton->hide();
    applyButton->hide();
    closeButton->hide();
    cancelButton->hide();
    detailButton->setChecked(false);
    detailButton->hide();
    detailFrame->hide();
    informationLabel->hide();
    iconLabel->hide();
}

void ZelManagerMessageDlg::setIcon(int kind)
{
    static const char *const names[] = { "information", "warning", "error", "question" };
    if (kind < Information || kind > Question) {
        iconLabel->hide();
        return;
    }
    const QString file = QStringLiteral(":/images/dialog-%1.svg").arg(QLatin1String(names[kind - 1]));
    iconLabel->setPixmap(QIcon(file).pixmap(64, 64));
    iconLabel->show();
}

void ZelManagerMessageDlg::setMessage(const QString &text)
{
    messageLabel->setText(text);
}

QString ZelManagerMessageDlg::message() const
{
    return messageLabel->text();
}

void ZelManagerMessageDlg::setInformation(const QString &text)
{
    informationLabel->setText(text);
    informationLabel->setVisible(!text.isEmpty());
}

QString ZelManagerMessageDlg::information() const
{
    return informationLabel->text();
}

void ZelManagerMessageDlg::setDetailText(const QString &text)
{
    detailTextEdit->setPlainText(text);
    detailButton->setVisible(!text.isEmpty());
}

QString ZelManagerMessageDlg::detailText() const
{
    return detailTextEdit->toPlainText();
}

void ZelManagerMessageDlg::setButtons(int buttons)
{
    okButton->setVisible(buttons & QMessageBox::Ok);
    retryButton->setVisible(buttons & QMessageBox::Retry);
    closeButton->setVisible(buttons & QMessageBox::Close);
    cancelButton->setVisible(buttons & QMessageBox::Cancel);
    applyButton->setVisible(buttons & QMessageBox::Apply);
}

int ZelManagerMessageDlg::fittingWidth() const
{
    int width = sizeHint().width();
    const QFontMetrics detailMetrics(detailTextEdit->font());
    const QStringList lines = detailTextEdit->toPlainText().split(QLatin1Char('\n'));
    for (const QString &line : lines)
        width = std::max(width, detailMetrics.horizontalAdvance(line) + 45);
    width = std::max(width, messageLabel->fontMetrics().horizontalAdvance(messageLabel->text()) + 85);
    return std::min(width, MaximumWidth);
}

void ZelManagerMessageDlg::addWidget(QWidget *widget)
{
    textLayout->insertWidget(textLayout->indexOf(messageLabel) + 1, widget);
}

int ZelManagerMessageDlg::exec()
{
    setFixedWidth(fittingWidth());
    return QDialog::exec();
}

void ZelManagerMessageDlg::on_okButton_clicked()
{
    done(QMessageBox::Ok);
}

void ZelManagerMessageDlg::on_closeButton_clicked()
{
    done(QMessageBox::Close);
}

void ZelManagerMessageDlg::on_retryButton_clicked()
{
    done(QMessageBox::Retry);
}

void ZelManagerMessageDlg::on_applyButton_clicked()
{
    done(QMessageBox::Apply);
}

void ZelManagerMessageDlg::on_cancelButton_clicked()
{
    done(QMessageBox::Cancel);
}

void ZelManagerMessageDlg::on_detailButton_toggled(bool on)
{
    detailFrame->setVisible(on);
    if (on) {
        detailButton->setText(tr("Hide &Details ..."));
        setFixedHeight(ExpandedHeight);
    } else {
        detailButton->setText(tr("Show &Details ..."));
        setFixedHeight(sizeHint().height());
    }
}
