#ifndef ZELMANAGERAPPLYDELEGATE_H
#define ZELMANAGERAPPLYDELEGATE_H

#include "ui/ZelManagerPanelDelegate.h"

// Draws one row of the apply list from the package record: icon, name and
// description on the left, the operation's status text on the right and,
// while a worker reports a percentage, a progress bar below it.
class ZelManagerApplyDelegate : public ZelManagerPanelDelegate
{
    Q_OBJECT

public:
    explicit ZelManagerApplyDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Whether a row of this status shows a progress bar.
    static bool showsProgress(int status);
};

#endif // ZELMANAGERAPPLYDELEGATE_H
