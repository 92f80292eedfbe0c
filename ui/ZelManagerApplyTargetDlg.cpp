#include "ui/ZelManagerApplyTargetDlg.h"

#include "ui_ZelManagerApplyTargetDlg.h"

ZelManagerApplyTargetDlg::ZelManagerApplyTargetDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ZelManagerApplyTargetDlg)
{
    ui->setupUi(this);
    setFixedWidth(sizeHint().width());
}

ZelManagerApplyTargetDlg::~ZelManagerApplyTargetDlg() = default;

void ZelManagerApplyTargetDlg::on_cancelButton_clicked()
{
    done(Cancel);
}

void ZelManagerApplyTargetDlg::on_switchButton_clicked()
{
    done(Switch);
}

void ZelManagerApplyTargetDlg::on_migrationButton_clicked()
{
    done(Migrate);
}
