#ifndef ZELMANAGERERRORPANEL_H
#define ZELMANAGERERRORPANEL_H

#include "ui/ZelManagerContentPanel.h"

#include <memory>

class QStandardItemModel;
class ZelManagerDatabase;

namespace Ui {
class ZelManagerErrorPanel;
}

// The page of the database's error list: one row per record with its time,
// package, kind and description (the full text as tool tip), sortable by any
// column, reloaded whenever the list changes.
class ZelManagerErrorPanel : public ZelManagerContentPanel
{
    Q_OBJECT

public:
    enum Column { TimeColumn, PackageColumn, KindColumn, DescriptionColumn, ColumnCount };

    explicit ZelManagerErrorPanel(QWidget *parent = nullptr);
    ~ZelManagerErrorPanel() override;

    QStandardItemModel *errorModel() const { return m_errorModel; }

public slots:
    void updatePanelStates();
    void updateActionState(bool running);
    void onErrorCountChanged(int count);

private:
    void reload();

    std::unique_ptr<Ui::ZelManagerErrorPanel> ui;
    ZelManagerDatabase *m_database;
    QStandardItemModel *m_errorModel;
};

#endif // ZELMANAGERERRORPANEL_H
