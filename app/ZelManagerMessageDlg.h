#ifndef ZELMANAGERMESSAGEDLG_H
#define ZELMANAGERMESSAGEDLG_H

#include "ui_ZelManagerMessageDlg.h"

#include <QDialog>

// The program's message dialog: an icon, a message, an information line, a
// set of standard buttons and a detail text that folds out on request.
class ZelManagerMessageDlg : public QDialog, private Ui::ZelManagerMessageDlg
{
    Q_OBJECT

public:
    enum IconKind {
        NoIcon = 0,
        Information = 1,
        Warning = 2,
        Error = 3,
        Question = 4,
    };

    explicit ZelManagerMessageDlg(QWidget *parent = nullptr);

    void setIcon(int kind);
    void setMessage(const QString &text);
    QString message() const;
    void setInformation(const QString &text);
    QString information() const;
    void setDetailText(const QString &text);
    QString detailText() const;
    // QMessageBox::StandardButton flags: Ok, Retry, Close, Cancel, Apply.
    void setButtons(int buttons);
    // Puts a widget (a check box, say) below the message; the dialog takes it.
    void addWidget(QWidget *widget);

    // Fits the width to the texts (at most 640 pixels), then runs modally and
    // returns the flag of the button that ended the dialog.
    int exec() override;

private slots:
    void on_okButton_clicked();
    void on_closeButton_clicked();
    void on_retryButton_clicked();
    void on_applyButton_clicked();
    void on_cancelButton_clicked();
    void on_detailButton_toggled(bool on);

private:
    int fittingWidth() const;
};

#endif // ZELMANAGERMESSAGEDLG_H
