#ifndef ZELMANAGERPREFERENCEPANEL_H
#define ZELMANAGERPREFERENCEPANEL_H

#include "ui/ZelManagerContentPanel.h"

#include <QUrl>

#include <memory>

class QModelIndex;
class QToolButton;
class ZelManagerRepositoryDelegate;
class ZelManagerRepositoryModel;
class ZelManagerSettings;

namespace Ui {
class ZelManagerPreferencePanel;
}

// The page of the installation's settings: the target (install folder and
// architecture, moved by the migration tool), the cache folder, and the
// repositories. Every change goes straight into the settings store, whose
// signals update the repository list and the package database.
//
// Four buttons float over the hovered repository row: edit, remove and
// enable/disable on a repository, add on the last (add) row.
class ZelManagerPreferencePanel : public ZelManagerContentPanel
{
    Q_OBJECT

public:
    explicit ZelManagerPreferencePanel(QWidget *parent = nullptr);
    ~ZelManagerPreferencePanel() override;

    ZelManagerRepositoryModel *repositoryModel() const { return m_model; }
    QToolButton *editButton() const { return m_editButton; }
    QToolButton *createButton() const { return m_createButton; }
    QToolButton *enableButton() const { return m_enableButton; }
    QToolButton *removeButton() const { return m_removeButton; }

    // Deletes the cached archives (files ending in ".cache") directly inside
    // folder; sub-folders and other files stay. Returns how many went.
    static int clearCacheFolder(const QString &folder);

    // Takes a folder chosen for the installation: refused with a "Path
    // Error" box when it is too long or a drive's root, else put into the
    // install folder edit. False when refused.
    bool chooseInstallFolder(const QString &folder);
    bool isInstallFolderPending() const { return m_installFolderChanged; }
    bool isArchitecturePending() const { return m_architectureChanged; }

public slots:
    void updateSelectedRows();
    void onToolButtonPressed();
    void onToolButtonReleased();
    void onEditButtonClicked();
    void onEnableButtonClicked();
    void onRemoveButtonClicked();
    void onCreateButtonClicked();
    void onRepositoryCountChanged();
    void on_clearCacheFolderButton_clicked();
    void on_browseCacheFolderButton_clicked();
    void on_browseInstallFolderButton_clicked();
    void on_applyTargetSettingsButton_clicked();
    void on_installFolderEdit_textChanged(const QString &text);
    void on_architectureComboBox_currentIndexChanged(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QToolButton *createToolButton(const QString &name, const QString &toolTip, const QString &icon);
    void placeButtons(const QPoint &position);
    void hideButtons();
    void storeRepository(const QUrl &url, const QString &label);
    void onCacheFolderEdited();
    void updateTargetState();
    void applyInstallFolder(int mode);
    void onTargetStepStarted(const QString &format, int maximum);
    bool confirmOldFolderRemoval();
    void showTargetMessage(int icon, const QString &title, const QString &text, const QString &details);

    std::unique_ptr<Ui::ZelManagerPreferencePanel> ui;
    ZelManagerSettings *m_settings;
    ZelManagerRepositoryModel *m_model;
    ZelManagerRepositoryDelegate *m_delegate;
    QToolButton *m_editButton;
    QToolButton *m_createButton;
    QToolButton *m_enableButton;
    QToolButton *m_removeButton;
    QToolButton *m_heldButton = nullptr;
    // The target group's state, owned by the migration.
    bool m_installFolderChanged = false;
    bool m_architectureChanged = false;
};

#endif // ZELMANAGERPREFERENCEPANEL_H
