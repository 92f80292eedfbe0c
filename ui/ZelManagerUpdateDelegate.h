#ifndef ZELMANAGERUPDATEDELEGATE_H
#define ZELMANAGERUPDATEDELEGATE_H

#include "ui/ZelManagerPanelDelegate.h"

class ZelManagerRepositoryUpdater;

// Draws the rows of the update page. A repository updater row (the update
// model's edit role holds the updater): the repository's label and URL with
// the updater's work and a progress bar. A package row (the edit role holds
// the name): name and description with the installed and the new version.
class ZelManagerUpdateDelegate : public ZelManagerPanelDelegate
{
    Q_OBJECT

public:
    explicit ZelManagerUpdateDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void paintUpdater(
        QPainter *painter, const QStyleOptionViewItem &option, ZelManagerRepositoryUpdater *updater) const;
    void paintPackage(QPainter *painter, const QStyleOptionViewItem &option, const QString &name) const;
};

#endif // ZELMANAGERUPDATEDELEGATE_H
