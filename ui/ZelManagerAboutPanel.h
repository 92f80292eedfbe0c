#ifndef ZELMANAGERABOUTPANEL_H
#define ZELMANAGERABOUTPANEL_H

#include "ui/ZelManagerContentPanel.h"

#include <QDate>
#include <QUrl>

#include <memory>

namespace Ui {
class ZelManagerAboutPanel;
}

// The page that names the program, its version (which carries the build
// date) and the versions of the libraries it was built against; its one
// action opens the project's issue tracker.
class ZelManagerAboutPanel : public ZelManagerContentPanel
{
    Q_OBJECT

public:
    explicit ZelManagerAboutPanel(QWidget *parent = nullptr);
    ~ZelManagerAboutPanel() override;

    QList<QAction *> panelActions() const override;

    // A compiler build date such as "Jan  4 2024"; invalid when no format
    // reads it.
    static QDate parseBuildDate(const QString &text);
    // Where users report bugs (the address the README gives).
    static QUrl bugReportUrl();

private slots:
    void on_reportBugsAction_triggered();

private:
    std::unique_ptr<Ui::ZelManagerAboutPanel> ui;
};

#endif // ZELMANAGERABOUTPANEL_H
