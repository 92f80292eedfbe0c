#ifndef ZELMANAGERAPPLYTARGETDLG_H
#define ZELMANAGERAPPLYTARGETDLG_H

#include <QDialog>

#include <memory>

namespace Ui {
class ZelManagerApplyTargetDlg;
}

// Asks how a changed install folder is taken: migrated (the files are
// copied there and the old folder removed) or switched to (the files stay).
// exec() returns Cancel, Switch or Migrate.
class ZelManagerApplyTargetDlg : public QDialog
{
    Q_OBJECT

public:
    enum Answer { Cancel = 0, Switch = 1, Migrate = 2 };

    explicit ZelManagerApplyTargetDlg(QWidget *parent = nullptr);
    ~ZelManagerApplyTargetDlg() override;

public slots:
    void on_cancelButton_clicked();
    void on_switchButton_clicked();
    void on_migrationButton_clicked();

private:
    std::unique_ptr<Ui::ZelManagerApplyTargetDlg> ui;
};

#endif // ZELMANAGERAPPLYTARGETDLG_H
