#ifndef ZELMANAGERCATEGORYPANEL_H
#define ZELMANAGERCATEGORYPANEL_H

#include "ui_ZelManagerCategoryPanel.h"

#include <QModelIndex>
#include <QWidget>

class QButtonGroup;
class ZelManagerCategoryModel;

// The main window's left column: one level of the category tree and the
// buttons that open the other pages, with the pending operation and error
// counters.
class ZelManagerCategoryPanel : public QWidget, private Ui::ZelManagerCategoryPanel
{
    Q_OBJECT

public:
    // The pages the buttons open.
    enum Page {
        AboutPage,
        ApplyPage,
        ErrorPage,
        ToolsPage,
        UpdatePage,
        PreferencePage,
    };

    explicit ZelManagerCategoryPanel(ZelManagerCategoryModel *model, QWidget *parent = nullptr);

    // A page the window does not have keeps its button hidden and disabled;
    // every page is available at construction.
    void setPageAvailable(Page page, bool available);

    // Unchecks every page button.
    void resetPageButtons();

signals:
    void showAboutRequest(bool on);
    void showApplyRequest(bool on);
    void showErrorRequest(bool on);
    void showToolsRequest(bool on);
    void showUpdateRequest(bool on);
    void showPreferenceRequest(bool on);
    // path: the levels descended into; name: the leaf chosen, possibly empty.
    void showPackagesRequest(const QString &name, const QStringList &path);

public slots:
    void onErrorsChanged(int count);
    void onCategoryModelReset();
    void onPackagesRequestsChanged(int count);
    void onApplyPanelStateChanged(bool running);
    void onUpdatePanelStateChanged(bool running);

private slots:
    void on_categoryListView_clicked(const QModelIndex &index);

private:
    void updateApplyButtonText();
    QAbstractButton *pageButton(Page page) const;
    bool isAvailable(QAbstractButton *button) const { return button->isEnabled(); }

    ZelManagerCategoryModel *m_model;
    QButtonGroup *m_buttonGroup;
    int m_pendingCount = 0;
    int m_errorCount = 0;
    bool m_applying = false;
};

#endif // ZELMANAGERCATEGORYPANEL_H
