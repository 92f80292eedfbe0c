#ifndef ZELMANAGERGENERATEGREENPACKAGEDLG_H
#define ZELMANAGERGENERATEGREENPACKAGEDLG_H

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QListWidgetItem;
class ZelManagerDatabase;

namespace Ui {
class ZelManagerGenerateGreenPackageDlg;
}

// Chooses what goes into a green package: the installed packages (one
// checkable item each, filled when the dialog is built) and the file to
// write. "&Generate" is enabled only while a file is named and at least one
// package is checked. The checks can be read from and written to a package
// list file.
class ZelManagerGenerateGreenPackageDlg : public QDialog
{
    Q_OBJECT

public:
    explicit ZelManagerGenerateGreenPackageDlg(QWidget *parent = nullptr);
    ~ZelManagerGenerateGreenPackageDlg() override;

    // The checked packages, sorted.
    QStringList checkedPackages() const;
    // The file to write, absolute; empty when none is named.
    QString packageFile() const { return m_packageFile; }

private slots:
    void on_importButton_clicked();
    void on_exportButton_clicked();
    void on_browseButton_clicked();
    void on_generateButton_clicked();
    void on_selectAllButton_clicked();
    void on_unselectAllButton_clicked();
    void on_packageFileEdit_textChanged(const QString &text);
    void on_packageFilterEdit_textChanged(const QString &text);
    void on_packageListWidget_itemChanged(QListWidgetItem *item);

private:
    void setAllChecked(bool checked);
    void updateGenerateButton();

    std::unique_ptr<Ui::ZelManagerGenerateGreenPackageDlg> ui;
    ZelManagerDatabase *m_database;
    QStringList m_checked;
    QString m_packageFile;
};

#endif // ZELMANAGERGENERATEGREENPACKAGEDLG_H
