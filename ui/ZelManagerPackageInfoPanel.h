#ifndef ZELMANAGERPACKAGEINFOPANEL_H
#define ZELMANAGERPACKAGEINFOPANEL_H

#include "ui/ZelManagerContentPanel.h"
#include "ui_ZelManagerPackageInfoPanel.h"

class QListWidgetItem;
class ZelManagerDatabase;
struct PackageInfo;

// Everything known about one package, by name, with one button that marks
// or cancels the operation that fits the package's state.
class ZelManagerPackageInfoPanel : public ZelManagerContentPanel, private Ui::ZelManagerPackageInfoPanel
{
    Q_OBJECT

public:
    explicit ZelManagerPackageInfoPanel(QWidget *parent = nullptr);

    // Fills every field for the package of that name; an empty name empties
    // the panel.
    void showPackage(const QString &name);
    QString packageName() const;

    // In return mode the panel stands in for the content column and offers
    // the return button.
    void setReturnMode(bool on);
    bool returnMode() const { return m_returnMode; }

signals:
    void returnRequest();
    // kind: 1 cancel, 2 remove, 3 install, 4 upgrade, 5 reinstall.
    void actionRequest(int kind, const QString &name);

public slots:
    void updateActionButton();

private slots:
    void on_returnButton_clicked();
    void on_actionButton_clicked();
    void on_dependencyListWidget_itemActivated(QListWidgetItem *item);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fillVersions(const QString &name, const PackageInfo &installed, const PackageInfo &available);
    void fillLists(const PackageInfo &installed, const PackageInfo &available);
    void fitListHeight(QListWidget *list);
    void fitDescriptionHeight();

    ZelManagerDatabase *m_database;
    bool m_returnMode = true;
};

#endif // ZELMANAGERPACKAGEINFOPANEL_H
