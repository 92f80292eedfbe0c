#ifndef ZELMANAGERPANELDELEGATE_H
#define ZELMANAGERPANELDELEGATE_H

#include <QStyledItemDelegate>

// Base of the delegates that draw package rows (packages, update and apply
// pages): they share one row height, two text lines plus button margins.
class ZelManagerPanelDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ZelManagerPanelDelegate(QObject *parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The row height for a view drawn with this font and style.
    static int rowHeight(const QStyleOptionViewItem &option);
};

#endif // ZELMANAGERPANELDELEGATE_H
