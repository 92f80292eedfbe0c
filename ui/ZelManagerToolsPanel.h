#ifndef ZELMANAGERTOOLSPANEL_H
#define ZELMANAGERTOOLSPANEL_H

#include "ui/ZelManagerContentPanel.h"

#include <QString>
#include <QStringList>

#include <memory>

class ZelManagerApplyPanel;
class ZelManagerDatabase;
class ZelManagerSettings;

namespace Ui {
class ZelManagerToolsPanel;
}

// The tools page: exports the installed packages as a package selection and
// imports one (marking what differs and applying it at once), and generates
// green packages. Applying goes through the apply panel that the main window
// hands over; the page asks the window to show the apply page and to come
// back afterwards.
class ZelManagerToolsPanel : public ZelManagerContentPanel
{
    Q_OBJECT

public:
    explicit ZelManagerToolsPanel(QWidget *parent = nullptr);
    ~ZelManagerToolsPanel() override;

    void setApplyPanel(ZelManagerApplyPanel *panel) { m_applyPanel = panel; }
    ZelManagerApplyPanel *applyPanel() const { return m_applyPanel; }
    // Where green package generation finds the fix-up tools (the program's
    // own folder unless set).
    void setFixupToolFolder(const QString &folder) { m_toolFolder = folder; }

signals:
    void showApplyRequest();
    void showToolsRequest(bool on);

public slots:
    void on_exportPackageListButton_clicked();
    void on_importPackageListButton_clicked();
    void on_generateGreenPackageButton_clicked();

private:
    // Asks whether to apply the differences; false when declined.
    bool confirmImport(const QStringList &installList, const QStringList &removeList, bool *keepInstalled);
    void requestImport(const QStringList &installList, const QStringList &removeList);
    void generateGreenPackage(const QStringList &checked, const QString &fileName);
    // Shows the apply page, runs the marked operations and waits for the
    // run to end.
    void applyAndWait();
    void showOperation(const QString &text, int percent);
    void setBusy(bool busy);
    void showGenerateError(const QString &text);

    std::unique_ptr<Ui::ZelManagerToolsPanel> ui;
    ZelManagerSettings *m_settings;
    ZelManagerDatabase *m_database;
    ZelManagerApplyPanel *m_applyPanel = nullptr;
    QString m_toolFolder;
    bool m_busy = false;
};

#endif // ZELMANAGERTOOLSPANEL_H
